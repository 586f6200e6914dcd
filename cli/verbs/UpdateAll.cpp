#include "UpdateAll.h"

#include "AttachedUnits.h"
#include "CliTexts.h"
#include "CommandChannel.h"
#include "ExitCodes.h"
#include "HexFileCheck.h"
#include "Printable.h"
#include "ResultOutput.h"
#include "UnitsSummary.h"
#include "UnitsView.h"

#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

// Each worker is this very program, whichever it is (zelupdate-cli, zelupdate-cli-sim).
constexpr const char *kWorkerProgram = "/proc/self/exe";
// How often the units' lines are redrawn and signals passed on.
constexpr int kTickMs = 100;

struct FoundUnit
{
    QString port;
    QString serial;
};

// Every attached ControlPanel once, in port order. One whose port cannot be found has none.
std::vector<FoundUnit> foundUnits()
{
    std::vector<FoundUnit> units;
    for (const AttachedUnit &attached : attachedUnits()) {
        const QString port = QString::fromStdString(attached.port);
        const bool listed = std::any_of(units.begin(), units.end(), [&port](const FoundUnit &unit) {
            return !port.isEmpty() && unit.port == port;
        });
        if (!listed)
            units.push_back({port, QString::fromStdWString(attached.serialNumber)});
    }
    // Enumerating leaves hidapi initialised; nothing here talks to a unit.
    CommandChannel().closeChannel();
    std::stable_sort(units.begin(), units.end(), [](const FoundUnit &a, const FoundUnit &b) {
        return portBefore(a.port, b.port);
    });
    return units;
}

// Each worker checks the file again, and refuses it unless it holds the image checked here:
// every unit of the batch gets the same image, or none.
QStringList workerArguments(const VerbRequest &request, const HexFileCheck &check,
                            const QString &port)
{
    QStringList arguments{QStringLiteral("update"),
                          QStringLiteral("--target"),
                          QLatin1String(request.target->name),
                          QStringLiteral("--port"),
                          port,
                          QStringLiteral("--json"),
                          QStringLiteral("--leave-timeout"),
                          QString::number(request.leaveTimeoutSeconds),
                          QStringLiteral("--restart-timeout"),
                          QString::number(request.restartTimeoutSeconds)};
    arguments << QStringLiteral("--sha256") << QString::fromLatin1(check.summary.sha256);
    if (request.allowNoEndRecord)
        arguments << QStringLiteral("--allow-no-eof");
    // A file named like an option stays a file.
    return arguments << QStringLiteral("--") << QFile::decodeName(request.file);
}

void writeSummary(CliStreams &io, const VerbRequest &request, const HexFileCheck &check,
                  const std::vector<const UnitReport *> &units, int exitCode)
{
    if (request.json) {
        QJsonObject summary = summaryJson(units, exitCode);
        summary.insert(QStringLiteral("target"), QLatin1String(request.target->name));
        summary.insert(QStringLiteral("file"), QFile::decodeName(request.file));
        summary.insert(QStringLiteral("sha256"), QString::fromLatin1(check.summary.sha256));
        writeJsonLine(io.out, summary);
        return;
    }
    io.out << "target: " << request.target->name << " (" << request.target->title << ")\n"
           << "file: " << printableName(request.file) << '\n'
           << "sha256: " << check.summary.sha256 << '\n'
           << "used pages: " << check.summary.usedPages << '\n'
           << summaryTable(units) << "exit code: " << exitCode << '\n';
    io.out.flush();
}

} // namespace

int runUpdateAll(CliStreams &io, const VerbRequest &request, const HexFileCheck &check)
{
    // A worker is handed the name as text, which must give back the same bytes.
    if (QFile::encodeName(QFile::decodeName(request.file)) != request.file) {
        io.err << "The name of " << printableName(request.file)
               << " is not in this system's encoding, so --all cannot hand it on: rename the "
                  "file, or update the units one at a time\n";
        io.err.flush();
        return kExitFileRefused;
    }
    const std::vector<FoundUnit> found = foundUnits();
    if (found.empty()) {
        io.err << "No ControlPanel is attached: plug the units in, then update them again\n";
        io.err.flush();
        writeSummary(io, request, check, {}, kExitNoControlPanel);
        return kExitNoControlPanel;
    }

    std::vector<std::unique_ptr<UnitWorker>> workers;
    std::vector<const UnitReport *> reports;
    int running = 0;
    for (const FoundUnit &unit : found) {
        workers.push_back(std::make_unique<UnitWorker>(unit.port, unit.serial));
        reports.push_back(&workers.back()->report());
        if (unit.port.isEmpty())
            workers.back()->giveUp(QLatin1String(
                request.target->restartsIntoBootloader ? kPortlessPanelText : kPortlessBoardText));
        else
            ++running;
    }
    UnitsView view(io, request.json, reports);
    QEventLoop loop;
    for (const std::unique_ptr<UnitWorker> &worker : workers) {
        UnitWorker &unit = *worker;
        unit.onEvent = [&view, &unit](const QJsonObject &event) {
            view.event(unit.report(), event);
        };
        unit.onMessage = [&view, &unit](const QString &line) { view.message(unit.report(), line); };
        unit.onEnded = [&view, &loop, &running] {
            view.changed();
            if (--running == 0)
                loop.quit();
        };
    }
    // From here on this program must outlive its workers, to report how each ended.
    if (io.supervising)
        io.supervising();
    for (const std::unique_ptr<UnitWorker> &worker : workers)
        if (!worker->report().ended)
            worker->start(QString::fromLatin1(kWorkerProgram),
                          workerArguments(request, check, worker->report().port));

    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, [&] {
        if (io.signalsToPass)
            for (const int signal : io.signalsToPass())
                for (const std::unique_ptr<UnitWorker> &worker : workers)
                    worker->pass(signal);
        view.refresh();
    });
    tick.start(kTickMs);
    if (running > 0)
        loop.exec();
    tick.stop();
    view.refresh();

    std::vector<int> codes;
    for (const UnitReport *unit : reports)
        codes.push_back(unit->exitCode);
    const int exitCode = allUnitsExitCode(codes);
    writeSummary(io, request, check, reports, exitCode);
    return exitCode;
}
