#include "UpdateHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

QString escaped(const QString &field)
{
    QString written;
    written.reserve(field.size());
    for (const QChar c : field) {
        const ushort code = c.unicode();
        if (c == QLatin1Char('\\'))
            written += QLatin1String("\\\\");
        else if (c == QLatin1Char('\t'))
            written += QLatin1String("\\t");
        else if (c == QLatin1Char('\n'))
            written += QLatin1String("\\n");
        else if (c == QLatin1Char('\r'))
            written += QLatin1String("\\r");
        // C0 controls, DEL and the C1 controls, which some terminals obey as escapes.
        else if (code < 0x20 || (code >= 0x7f && code <= 0x9f))
            written += QStringLiteral("\\x%1").arg(code, 2, 16, QLatin1Char('0'));
        else
            written += c;
    }
    return written;
}

} // namespace

QString historyPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // freedesktop.org's base directory rules ignore a relative path.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QLatin1String("/.local/state");
    return state + QLatin1String("/zelUpdate/history.tsv");
}

QString appendHistory(const HistoryEntry &entry)
{
    const QString path = historyPath();
    if (!QDir().mkpath(QFileInfo(path).path()))
        return QStringLiteral("cannot create the folder of %1").arg(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
    QStringList fields{entry.time.toString(Qt::ISODate),
                       escaped(entry.frontEnd),
                       escaped(entry.target),
                       escaped(entry.file),
                       entry.sha256.isEmpty() ? QStringLiteral("-") : entry.sha256,
                       QString::number(entry.usedPages),
                       QString::number(entry.seconds, 'f', 1),
                       escaped(entry.result)};
    QByteArray line;
    if (file.size() == 0)
        line = "time\tfront end\ttarget\tfile\tsha256\tused pages\tseconds\tresult\n";
    line += fields.join(QLatin1Char('\t')).toUtf8() + '\n';
    if (file.write(line) != line.size() || !file.flush())
        return QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
    return QString();
}
