#include "UpdateCommand.h"

#include "CliTexts.h"
#include "Elapsed.h"
#include "ExitCodes.h"
#include "FileSummary.h"
#include "HexFileCheck.h"
#include "JsonLines.h"
#include "JsonProgress.h"
#include "PanelWait.h"
#include "Printable.h"
#include "ResultOutput.h"
#include "TerminalHost.h"
#include "TextProgress.h"
#include "UpdateAll.h"
#include "UpdateEach.h"
#include "UpdateSequence.h"

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <memory>

namespace {

// The result: one JSON line with --json, else "name: value" lines, the text on one line (or as
// `shownResult` words it).
void report(CliStreams &io, const VerbRequest &request, UpdateResultRecord record,
            const QString &shownResult = QString())
{
    record.target = QLatin1String(request.target->name);
    record.file = QFile::decodeName(request.file);
    record.exitCode = exitCodeFor(record.end);
    if (request.json) {
        writeJsonLine(io.out, resultJson(record));
        return;
    }
    io.out << "target: " << request.target->name << " (" << request.target->title << ")\n"
           << "file: " << printableName(request.file) << '\n';
    // A file refused, or never reached, has no image to name.
    if (!record.sha256.isEmpty())
        io.out << "sha256: " << record.sha256 << '\n' << "used pages: " << record.usedPages << '\n';
    io.out << "seconds: " << QString::number(record.seconds, 'f', 1) << '\n'
           << "result: " << (shownResult.isEmpty() ? oneLine(record.result) : shownResult) << '\n'
           << "exit code: " << record.exitCode << '\n';
    io.out.flush();
}

} // namespace

int refuseFile(CliStreams &io, const VerbRequest &request, const HexFileCheck &check,
               const QElapsedTimer &clock)
{
    io.err << refusalMessage(request.file, check) << '\n';
    io.err.flush();
    UpdateResultRecord record;
    record.end = SequenceEnd::FileRefused;
    // As JSON holds it, unescaped; the "result:" line escapes it.
    record.result = refusalJson(request.file, check);
    // A file that loads but is refused is still named by its image.
    if (check.summary.loaded) {
        record.sha256 = QString::fromLatin1(check.summary.sha256);
        record.usedPages = check.summary.usedPages;
    }
    record.seconds = secondsSince(clock);
    report(io, request, record, refusalLine(request.file, check));
    return exitCodeFor(record.end);
}

void announceUpdate(CliStreams &io, const VerbRequest &request, const HexFileCheck &check)
{
    for (const QString &warning : check.warnings) {
        io.err << kWarningPrefix << warning << '\n';
        if (request.json)
            writeJsonLine(io.out, warningJson(warning));
    }
    io.err << "Updating the " << request.target->title << " with " << printableName(request.file)
           << '\n';
    io.err.flush();
}

UpdateOutcome updateUnit(CliStreams &io, const VerbRequest &request, const HexFileCheck &check,
                         const UnitChoice &unit)
{
    const UpdateTarget &target = *request.target;
    std::unique_ptr<PhaseView> view;
    if (request.json)
        view = std::make_unique<JsonProgress>(io.out);
    else
        view = std::make_unique<TextProgress>(io.err, io.errIsTerminal, io.errColumns);
    // The history names the file wherever the update was started from; the engine writes the
    // image checked, never the file as it may be by then.
    TerminalHost host(
        {QFileInfo(QFile::decodeName(request.file)).absoluteFilePath(), check.image, check.summary},
        io, *view);
    CommandChannel channel;
    SequenceOptions options;
    options.unit = unit;
    // A terminal has no fixed wait to keep: the unit is followed through its restarts.
    options.restarts = std::make_shared<FollowAtPort>(
        RestartTimeouts{request.leaveTimeoutSeconds * 1000, request.restartTimeoutSeconds * 1000});
    options.inBootloader = request.inBootloader;
    const UpdateOutcome outcome = runUpdateSequence(target, channel, host, options);
    view->settle();
    return outcome;
}

int updateCheckedUnit(CliStreams &io, const VerbRequest &request, const HexFileCheck &check,
                      const QElapsedTimer &clock)
{
    UpdateResultRecord record = resultRecord(updateUnit(io, request, check, request.unit));
    record.seconds = secondsSince(clock);
    report(io, request, record);
    return exitCodeFor(record.end);
}

int runUpdate(CliStreams &io, const VerbRequest &request)
{
    // The whole update counts, the file check and --wait included.
    QElapsedTimer clock;
    clock.start();
    const HexFileCheck check =
        checkHexFile(*request.target, request.file, request.allowNoEndRecord, request.sha256);
    if (check.verdict != HexFileCheck::Verdict::Good)
        return refuseFile(io, request, check, clock);
    announceUpdate(io, request, check);
    if (request.all)
        return runUpdateAll(io, request, check);
    if (request.each)
        return runUpdateEach(io, request, check);

    if (request.waitSeconds >= 0 &&
        waitForUnit(io, request.waitSeconds, request.unit) == PanelWaitEnd::SeveralAttached) {
        UpdateResultRecord record;
        record.end = SequenceEnd::NoControlPanel;
        record.result = QString::fromLatin1(kSeveralPanelsText);
        record.seconds = secondsSince(clock);
        report(io, request, record);
        return exitCodeFor(record.end);
    }
    return updateCheckedUnit(io, request, check, clock);
}
