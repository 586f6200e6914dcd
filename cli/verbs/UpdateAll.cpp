#include "UpdateAll.h"

#include "AttachedUnits.h"
#include "CliTexts.h"
#include "CommandChannel.h"
#include "ExitCodes.h"
#include "HexFileCheck.h"
#include "JsonLines.h"
#include "Printable.h"
#include "ResultOutput.h"
#include "UnitsSummary.h"
#include "UnitsView.h"
#include "UpdateCommand.h"
#include "WorkerRequest.h"

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
            worker->start(QString::fromLatin1(kWorkerProgram), {QLatin1String(kWorkerArgument)},
                          workerRequest(request, check, worker->report().port));

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

int runUnitWorker(CliStreams &io, const QByteArray &request)
{
    QElapsedTimer clock;
    clock.start();
    const std::optional<WorkerTask> task = workerTask(request);
    if (!task) {
        io.err << "No update --all request on standard input: " << kWorkerArgument
               << " is how update --all starts the update of one unit\n";
        io.err.flush();
        return kExitUsage;
    }
    if (task->check.verdict != HexFileCheck::Verdict::Good)
        return refuseFile(io, task->request, task->check, clock);
    announceUpdate(io, task->request, task->check);
    return updateCheckedUnit(io, task->request, task->check, clock);
}
