#include "UpdateCommand.h"

#include "CliTexts.h"
#include "ExitCodes.h"
#include "FileSummary.h"
#include "HexFileCheck.h"
#include "JsonProgress.h"
#include "PanelWait.h"
#include "TerminalHost.h"
#include "TextProgress.h"
#include "UpdateSequence.h"

#include <QFileInfo>

#include <memory>

namespace {

struct Result
{
    QString sha256;
    std::uint32_t usedPages = 0;
    double seconds = 0;
    QString text;
    int exitCode = kExitOk;
};

void report(CliStreams &io, const UpdateRequest &request, const Result &result)
{
    if (request.json) {
        writeJsonLine(io.out, {{QStringLiteral("event"), QStringLiteral("result")},
                               {QStringLiteral("target"), QLatin1String(request.target->name)},
                               {QStringLiteral("file"), request.file},
                               {QStringLiteral("sha256"), result.sha256},
                               {QStringLiteral("usedPages"), qint64(result.usedPages)},
                               {QStringLiteral("seconds"), result.seconds},
                               {QStringLiteral("result"), result.text},
                               {QStringLiteral("exitCode"), result.exitCode}});
        return;
    }
    io.out << "target: " << request.target->name << " (" << request.target->title << ")\n"
           << "file: " << request.file << '\n';
    // A file refused, or never reached, has no image to name.
    if (!result.sha256.isEmpty())
        io.out << "sha256: " << result.sha256 << '\n' << "used pages: " << result.usedPages << '\n';
    io.out << "seconds: " << QString::number(result.seconds, 'f', 1) << '\n'
           << "result: " << QString(result.text).replace(QLatin1Char('\n'), QLatin1String(" / "))
           << '\n'
           << "exit code: " << result.exitCode << '\n';
    io.out.flush();
}

// Refuses before anything is sent: the file as the update would load it, and one that may have
// been cut short unless the user accepts it. Returns the exit status, kExitOk when the update
// may go on.
int refuseFile(CliStreams &io, const UpdateRequest &request, const HexFileCheck &check)
{
    Result result;
    result.exitCode = kExitFileRefused;
    if (check.verdict != HexFileCheck::Verdict::Good)
        result.text = refusalText(request.file, check);
    else if (!check.summary.endOfFileRecord && !request.allowNoEndRecord) {
        result.text =
            QString::fromLatin1(kNoEndRecordRefusal).arg(request.file).arg(check.summary.lines);
        result.sha256 = QString::fromLatin1(check.summary.sha256);
        result.usedPages = check.summary.usedPages;
    } else
        return kExitOk;
    io.err << result.text << '\n';
    io.err.flush();
    report(io, request, result);
    return result.exitCode;
}

} // namespace

int runUpdate(CliStreams &io, const UpdateRequest &request)
{
    const UpdateTarget &target = *request.target;
    const HexFileCheck check = checkHexFile(target, request.file);
    if (const int refused = refuseFile(io, request, check))
        return refused;
    for (const QString &warning : check.warnings)
        io.err << kWarningPrefix << warning << '\n';
    io.err << "Updating the " << target.title << " with " << request.file << '\n';
    io.err.flush();

    if (request.waitSeconds >= 0 && waitForOnePanel(io, request.waitSeconds)) {
        Result result;
        result.text = QString::fromLatin1(kSeveralPanelsText);
        result.exitCode = kExitNoControlPanel;
        report(io, request, result);
        return result.exitCode;
    }

    std::unique_ptr<PhaseView> view;
    if (request.json)
        view = std::make_unique<JsonProgress>(io.out);
    else
        view = std::make_unique<TextProgress>(io.err, io.errIsTerminal);
    // The history names the file wherever the update was started from; the engine writes the
    // image checked above, never the file as it may be by then.
    TerminalHost host({QFileInfo(request.file).absoluteFilePath(), check.image, check.summary}, io,
                      *view);
    CommandChannel channel;
    TargetProfile profile{};
    SequenceOptions options;
    options.unit = request.unit;
    // A terminal has no fixed wait to keep: the unit is followed through its restarts.
    options.restarts.follow = true;
    options.restarts.returnTimeoutMs = request.restartTimeoutSeconds * 1000;
    const SequenceOutcome outcome = runUpdateSequence(target, channel, profile, host, options);
    view->settle();

    Result result;
    result.sha256 = QString::fromLatin1(outcome.loaded.sha256);
    result.usedPages = outcome.loaded.usedPages;
    result.seconds = outcome.seconds;
    result.text = outcome.text;
    result.exitCode = exitCodeFor(outcome.end);
    report(io, request, result);
    return result.exitCode;
}
