#include "CheckCommand.h"

#include "CliTexts.h"
#include "ExitCodes.h"
#include "FileSummary.h"
#include "HexFileCheck.h"
#include "JsonProgress.h"

#include <QJsonArray>

int runCheck(CliStreams &io, const UpdateTarget &target, const QString &file, bool json)
{
    const HexFileCheck check = checkHexFile(target, file);
    const bool good = check.verdict == HexFileCheck::Verdict::Good;
    const int code = good ? kExitOk : kExitFileRefused;
    if (!good)
        io.err << refusalText(file, check) << '\n';
    for (const QString &warning : check.warnings)
        io.err << kWarningPrefix << warning << '\n';
    io.err.flush();

    if (json) {
        QJsonObject result{{QStringLiteral("event"), QStringLiteral("result")},
                           {QStringLiteral("target"), QLatin1String(target.name)},
                           {QStringLiteral("file"), file}};
        if (good)
            result = summaryJson(target, file, check.summary);
        else
            result.insert(QStringLiteral("error"), check.error);
        result.insert(QStringLiteral("event"), QStringLiteral("result"));
        result.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(check.warnings));
        result.insert(QStringLiteral("exitCode"), code);
        writeJsonLine(io.out, result);
    } else if (good) {
        printSummary(io.out, target, file, check.summary);
    }
    return code;
}
