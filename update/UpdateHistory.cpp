#include "UpdateHistory.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

namespace {

QString escaped(QString field)
{
    field.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    field.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    field.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    field.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return field;
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

bool appendHistory(const HistoryEntry &entry, QString &error)
{
    const QString path = historyPath();
    if (!QDir().mkpath(QFileInfo(path).path())) {
        error = QStringLiteral("cannot create the folder of %1").arg(path);
        return true;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
        error = QStringLiteral("cannot open %1: %2").arg(path, file.errorString());
        return true;
    }
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
    if (file.write(line) != line.size() || !file.flush()) {
        error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return true;
    }
    return false;
}
