#include "CheckCommand.h"

#include "CliTexts.h"
#include "ExitCodes.h"
#include "FileSummary.h"
#include "HexFileCheck.h"
#include "JsonLines.h"
#include "ResultOutput.h"

#include <QFile>
#include <QJsonArray>

int runCheck(CliStreams &io, const VerbRequest &request)
{
    const UpdateTarget &target = *request.target;
    const HexFileCheck check =
        checkHexFile(target, request.file, request.allowNoEndRecord, request.sha256);
    const bool good = check.verdict == HexFileCheck::Verdict::Good;
    const int code = good ? kExitOk : kExitFileRefused;
    if (!good)
        io.err << refusalMessage(request.file, check) << '\n';
    for (const QString &warning : check.warnings)
        io.err << kWarningPrefix << warning << '\n';
    io.err.flush();

    if (request.json) {
        QJsonObject result{{QStringLiteral("target"), QLatin1String(target.name)},
                           {QStringLiteral("file"), QFile::decodeName(request.file)}};
        if (check.summary.loaded)
            result = summaryJson(target, request.file, check.summary);
        if (!good)
            result.insert(QStringLiteral("error"), check.error);
        result.insert(QStringLiteral("event"), QStringLiteral("result"));
        result.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(check.warnings));
        result.insert(QStringLiteral("exitCode"), code);
        writeJsonLine(io.out, result);
    } else if (good) {
        printSummary(io.out, target, request.file, check.summary);
    }
    return code;
}
