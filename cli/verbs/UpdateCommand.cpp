#include "UpdateCommand.h"

#include "CliTexts.h"
#include "Elapsed.h"
#include "ExitCodes.h"
#include "FileSummary.h"
#include "HexFileCheck.h"
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

struct Result
{
    QString sha256;
    std::uint32_t usedPages = 0;
    double seconds = 0;
    QString text;      // as JSON holds it
    QString shownText; // as the "result:" line shows it: escaped, on one line
    int exitCode = kExitOk;
};

void report(CliStreams &io, const VerbRequest &request, const Result &result)
{
    if (request.json) {
        writeJsonLine(io.out, {{QStringLiteral("event"), QStringLiteral("result")},
                               {QStringLiteral("target"), QLatin1String(request.target->name)},
                               {QStringLiteral("file"), QFile::decodeName(request.file)},
                               {QStringLiteral("sha256"), result.sha256},
                               {QStringLiteral("usedPages"), qint64(result.usedPages)},
                               {QStringLiteral("seconds"), result.seconds},
                               {QStringLiteral("result"), result.text},
                               {QStringLiteral("exitCode"), result.exitCode}});
        return;
    }
    io.out << "target: " << request.target->name << " (" << request.target->title << ")\n"
           << "file: " << printableName(request.file) << '\n';
    // A file refused, or never reached, has no image to name.
    if (!result.sha256.isEmpty())
        io.out << "sha256: " << result.sha256 << '\n' << "used pages: " << result.usedPages << '\n';
    io.out << "seconds: " << QString::number(result.seconds, 'f', 1) << '\n'
           << "result: " << result.shownText << '\n'
           << "exit code: " << result.exitCode << '\n';
    io.out.flush();
}

} // namespace

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

int runUpdate(CliStreams &io, const VerbRequest &request)
{
    // The whole update counts, the file check and --wait included.
    QElapsedTimer clock;
    clock.start();
    const UpdateTarget &target = *request.target;
    const HexFileCheck check =
        checkHexFile(target, request.file, request.allowNoEndRecord, request.sha256);
    if (check.verdict != HexFileCheck::Verdict::Good) {
        io.err << refusalMessage(request.file, check) << '\n';
        io.err.flush();
        Result result;
        result.text = refusalJson(request.file, check);
        result.shownText = refusalLine(request.file, check);
        // A file that loads but is refused is still named by its image.
        if (check.summary.loaded) {
            result.sha256 = QString::fromLatin1(check.summary.sha256);
            result.usedPages = check.summary.usedPages;
        }
        result.seconds = secondsSince(clock);
        result.exitCode = kExitFileRefused;
        report(io, request, result);
        return result.exitCode;
    }
    for (const QString &warning : check.warnings)
        io.err << kWarningPrefix << warning << '\n';
    io.err << "Updating the " << target.title << " with " << printableName(request.file) << '\n';
    io.err.flush();
    if (request.all)
        return runUpdateAll(io, request, check);
    if (request.each)
        return runUpdateEach(io, request, check);

    if (request.waitSeconds >= 0 &&
        waitForUnit(io, request.waitSeconds, request.unit) == PanelWaitEnd::SeveralAttached) {
        Result result;
        result.text = QString::fromLatin1(kSeveralPanelsText);
        result.shownText = oneLine(result.text);
        result.seconds = secondsSince(clock);
        result.exitCode = kExitNoControlPanel;
        report(io, request, result);
        return result.exitCode;
    }

    const UpdateOutcome outcome = updateUnit(io, request, check, request.unit);

    Result result;
    result.sha256 = QString::fromLatin1(outcome.loaded.sha256);
    result.usedPages = outcome.loaded.usedPages;
    result.seconds = secondsSince(clock);
    result.text = outcome.text;
    result.shownText = oneLine(outcome.text);
    result.exitCode = exitCodeFor(outcome.end);
    report(io, request, result);
    return result.exitCode;
}
