#include "JsonProgress.h"

#include "ResultOutput.h"

void JsonProgress::begin(UpdatePhase next, int units)
{
    phase = next;
    total = units;
    percent = 0;
    QJsonObject event{{QStringLiteral("event"), QStringLiteral("phase")},
                      {QStringLiteral("phase"), QLatin1String(phaseName(phase))},
                      {QStringLiteral("total"), total}};
    if (!unitPort.isEmpty())
        event.insert(QStringLiteral("port"), unitPort);
    writeJsonLine(out, event);
}

void JsonProgress::advance(int done)
{
    if (total <= 0)
        return;
    const int now = int(qint64(done) * 100 / total);
    if (now <= percent)
        return;
    percent = now;
    writeJsonLine(out, {{QStringLiteral("event"), QStringLiteral("progress")},
                        {QStringLiteral("phase"), QLatin1String(phaseName(phase))},
                        {QStringLiteral("done"), done},
                        {QStringLiteral("total"), total},
                        {QStringLiteral("percent"), percent}});
}
