#include "RecordingLines.h"

QStringList writtenReports(const std::vector<QJsonObject> &lines)
{
    QStringList reports;
    for (const QJsonObject &line : lines)
        if (line.value(QStringLiteral("call")).toString() == QLatin1String("write"))
            reports << line.value(QStringLiteral("bytes")).toString();
    return reports;
}

QStringList readReplies(const std::vector<QJsonObject> &lines)
{
    QStringList replies;
    for (const QJsonObject &line : lines) {
        if (line.value(QStringLiteral("call")).toString() != QLatin1String("read"))
            continue;
        const int result = line.value(QStringLiteral("result")).toInt();
        replies << (result > 0 ? line.value(QStringLiteral("bytes")).toString()
                               : QLatin1String(result == 0 ? "timeout" : "error"));
    }
    return replies;
}

QJsonObject lastEvent(const std::vector<QJsonObject> &lines, const QString &name)
{
    QJsonObject found;
    for (const QJsonObject &line : lines)
        if (line.value(QStringLiteral("event")).toString() == name)
            found = line;
    return found;
}

int exitStatus(const std::vector<QJsonObject> &lines)
{
    for (const QJsonObject &line : lines)
        if (line.contains(QStringLiteral("exit")))
            return line.value(QStringLiteral("exit")).toInt();
    return -1;
}

QJsonObject comparableResult(const std::vector<QJsonObject> &lines)
{
    QJsonObject result = lastEvent(lines, QStringLiteral("result"));
    result.remove(QStringLiteral("t"));
    result.remove(QStringLiteral("seconds"));
    return result;
}
