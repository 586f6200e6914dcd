#include "ProbeCommand.h"

#include "CliTexts.h"
#include "CommandLineText.h"
#include "ConnectionAdvice.h"
#include "ExitCodes.h"
#include "JsonLines.h"
#include "Printable.h"
#include "ResultOutput.h"
#include "TerminalHost.h"
#include "UnitProbe.h"
#include "Version.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

// What the report says when every figure was measured.
constexpr const char *kMeasuredText = "measured";

ExitCode exitCodeFor(ProbeEnd end, int stopSignal)
{
    switch (end) {
    case ProbeEnd::Measured:
        return kExitOk;
    case ProbeEnd::NoUnit:
        return kExitNoControlPanel;
    case ProbeEnd::RestartRefused:
        return kExitUsage;
    case ProbeEnd::NotAnswering:
    case ProbeEnd::StoppedAnswering:
    case ProbeEnd::EntryNotConfirmed:
    case ProbeEnd::NeverLeftForBootloader:
    case ProbeEnd::NeverBackInBootloader:
    case ProbeEnd::ExitNotConfirmed:
    case ProbeEnd::NeverLeftForApplication:
    case ProbeEnd::NeverBackInApplication:
    case ProbeEnd::SilentAfterReturn:
        break;
    case ProbeEnd::Interrupted:
        // As a signal before the restart would: 128 + its number, once the unit is back.
        return ExitCode(kSignalStatusBase + stopSignal);
    }
    return kExitNotAnswering;
}

QString ms(double milliseconds)
{
    return QStringLiteral("%1 ms").arg(milliseconds, 0, 'f', milliseconds < 100 ? 2 : 0);
}

QString ms(const std::optional<double> &milliseconds)
{
    return milliseconds ? ms(*milliseconds) : QStringLiteral("not reached");
}

QString comparedWith(bool same)
{
    return same ? QStringLiteral(" (the same)") : QStringLiteral(" (changed)");
}

class ProbeTerminalHost : public ProbeHost
{
public:
    ProbeTerminalHost(CliStreams &io, bool ask) : io(io), ask(ask) {}

    bool restartAllowed(const AttachedUnit &unit) override
    {
        if (!ask)
            return true;
        io.err << "This restarts the ControlPanel at USB port " << printable(unit.port)
               << " into its bootloader and back, writing nothing. Go on? [y/N] ";
        io.err.flush();
        const QString answer = (io.readAnswer ? io.readAnswer() : readLine()).trimmed().toLower();
        return answer == QLatin1String("y") || answer == QLatin1String("yes");
    }

    void stepBegins(ProbeStep step, const AttachedUnit &unit) override
    {
        switch (step) {
        case ProbeStep::LinkChecks:
            io.err << "Probing the ControlPanel at USB port " << printable(unit.port) << ": "
                   << kProbeChecks << " connection checks\n";
            break;
        case ProbeStep::IntoBootloader:
            io.err << "Restarting it into its bootloader\n";
            break;
        case ProbeStep::IntoApplication:
            io.err << "Restarting it into its application\n";
            break;
        case ProbeStep::FinalCheck:
            io.err << "Checking its connection again\n";
            break;
        }
        io.err.flush();
    }

    void pause(int milliseconds) override { io.wait(milliseconds); }

    void lockFolderMissing() override
    {
        if (io.noLockFolderSaid)
            return;
        io.noLockFolderSaid = true;
        io.err << kWarningPrefix << kNoLockFolderText << '\n';
        io.err.flush();
    }

    void restartBegins() override
    {
        if (io.probeRestarting)
            io.probeRestarting();
    }

    bool stopRequested() const override { return io.stopRequested && io.stopRequested(); }

private:
    static QString readLine()
    {
        char line[256];
        if (!std::fgets(line, sizeof line, stdin))
            return QString();
        return QString::fromLocal8Bit(line);
    }

    CliStreams &io;
    const bool ask;
};

void printUnit(QTextStream &out, const AttachedUnit &unit)
{
    out << "  hidraw node: " << printable(unit.path) << '\n'
        << "  serial number: " << printable(unit.serialNumber) << '\n'
        << "  manufacturer: " << printable(unit.manufacturer) << '\n'
        << "  product: " << printable(unit.product) << '\n'
        << "  USB release: " << usbReleaseText(unit.release) << '\n';
}

void printTrip(QTextStream &out, const char *title, const RestartTrip &trip,
               const AttachedUnit &before, const RestartTimeouts &timing)
{
    out << title << ":\n"
        << (trip.confirmed ? "  command echoed after: " : "  command not echoed, waited: ")
        << ms(trip.commandMs) << '\n';
    out << "  left the bus: " << ms(trip.leftMs) << " (time-out " << timing.departureMs << " ms)\n"
        << "  back at its port: " << ms(trip.backMs) << '\n'
        << "  opened: " << ms(trip.openedMs) << " (the window waits " << kFixedWaitMs
        << " ms, the command line up to " << timing.returnMs << " ms after it left)\n"
        << "  looks at the bus: at most " << ms(trip.lookMs) << " apart\n";
    if (trip.elsewhere)
        out << "  a ControlPanel came up at USB port " << printable(trip.elsewhere->port) << '\n';
    if (!trip.back)
        return;
    const AttachedUnit &back = *trip.back;
    out << "  hidraw node: " << printable(back.path)
        << (back.path == before.path ? " (the same)" : " (new)") << '\n'
        << "  serial number: " << printable(back.serialNumber)
        << comparedWith(back.serialNumber == before.serialNumber) << '\n'
        << "  manufacturer: " << printable(back.manufacturer)
        << comparedWith(back.manufacturer == before.manufacturer) << '\n'
        << "  product: " << printable(back.product) << comparedWith(back.product == before.product)
        << '\n'
        << "  USB release: " << usbReleaseText(back.release)
        << comparedWith(back.release == before.release) << '\n';
}

void printReport(QTextStream &out, const ProbeReport &report, const QString &file,
                 const QString &result, int code)
{
    if (report.unit) {
        out << "unit: " << printable(report.unit->port) << '\n';
        printUnit(out, *report.unit);
    }
    if (report.checks > 0) {
        const RoundTripFigures figures = roundTripFigures(report.roundTripsMs);
        out << "round trip: " << report.checks << " connection checks, " << report.failedChecks
            << " failed\n"
            << "  min: " << ms(figures.min) << '\n'
            << "  median: " << ms(figures.median) << '\n'
            << "  99th percentile: " << ms(figures.p99) << '\n'
            << "  max: " << ms(figures.max) << " (a reply may take up to " << kReplyTimeoutMs
            << " ms)\n";
    }
    if (report.toBootloader.sent) {
        printTrip(out, "to the bootloader", report.toBootloader, *report.unit, report.timing);
        if (report.toApplication.sent)
            printTrip(out, "to the application", report.toApplication, *report.unit, report.timing);
        if (report.finalCheckMs)
            out << "connection check after the return: " << ms(*report.finalCheckMs) << '\n';
    }
    const QStringList notes = probeNotes(report);
    if (!notes.isEmpty()) {
        out << "notes:\n";
        for (const QString &note : notes)
            out << "  " << printable(note) << '\n';
    }
    if (!file.isEmpty())
        out << "report file: " << printable(file) << '\n';
    out << "result: " << oneLine(result) << '\n' << "exit code: " << code << '\n';
    out.flush();
}

} // namespace

int runProbe(CliStreams &io, const VerbRequest &request)
{
    const bool ask = request.restart && !request.yes;
    if (ask && !io.inIsTerminal) {
        io.err << kProgramName
               << ": probe --restart asks before it restarts the unit, and standard input is not "
                  "a terminal: add --yes to restart it without asking\n";
        io.err.flush();
        return kExitUsage;
    }

    ProbeTerminalHost host(io, ask);
    CommandChannel channel;
    ProbeRequest probe;
    probe.unit = request.unit;
    probe.restart = request.restart;
    probe.timing.departureMs = request.leaveTimeoutSeconds * 1000;
    probe.timing.returnMs = request.restartTimeoutSeconds * 1000;
    const ProbeReport report = probeUnit(host, channel, probe);
    const int code = exitCodeFor(report.end, io.stopSignal ? io.stopSignal() : 0);
    const QString text = report.problem ? report.text : commandLineText(report);

    if (report.problem)
        io.err << connectionProblemText(*report.problem) << '\n';
    else if (!text.isEmpty())
        for (const QString &line : text.split(QLatin1Char('\n')))
            io.err << printable(line) << '\n';
    io.err.flush();
    // Nothing was sent: there is nothing to report.
    if (report.end == ProbeEnd::RestartRefused)
        return code;

    const QString result = text.isEmpty() ? QString::fromLatin1(kMeasuredText) : text;
    QJsonObject json = probeReportJson(report);
    json.insert(QStringLiteral("program"),
                QStringLiteral("%1 %2").arg(QCoreApplication::applicationName(),
                                            QLatin1String(kZelUpdateVersion)));
    json.insert(QStringLiteral("result"), result);
    json.insert(QStringLiteral("exitCode"), code);
    // The kept report is the line --json writes, but for the file's own name.
    json.insert(QStringLiteral("event"), QStringLiteral("probe"));
    json.insert(QStringLiteral("version"), kJsonLinesVersion);
    if (io.recordFindings)
        io.recordFindings(json);
    // Whatever was measured is kept, a probe that failed half-way included.
    QString file;
    if (report.unit) {
        file = probeReportPath(QString::fromStdString(report.unit->port), report.time);
        const QString why = keepProbeReport(file, json);
        if (!why.isEmpty()) {
            io.err << kWarningPrefix << "report not kept: " << printable(why) << '\n';
            io.err.flush();
            file.clear();
        }
    }

    if (request.json) {
        json.insert(QStringLiteral("reportFile"),
                    file.isEmpty() ? QJsonValue(QJsonValue::Null) : QJsonValue(file));
        writeJsonLine(io.out, json);
    } else {
        printReport(io.out, report, file, result, code);
    }
    return code;
}
