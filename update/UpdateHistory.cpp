#include "UpdateHistory.h"

#include "Printable.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <QStringList>
#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

QString historyPath()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    // freedesktop.org's base directory rules ignore a relative path.
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QLatin1String("/.local/state");
    return state + QLatin1String("/zelUpdate/history.tsv");
}

int openHistoryFile(const QString &path, int flags, QString &error)
{
    const QByteArray name = QFile::encodeName(path);
    const QString notRegular = QStringLiteral("not a regular file");
    // Said before opening: a pipe without a reader refuses a writer with words that mislead, and
    // a link is never followed, so that the history cannot be turned onto another file.
    struct stat status;
    if (::lstat(name.constData(), &status) == 0 && !S_ISREG(status.st_mode)) {
        error = S_ISLNK(status.st_mode) ? QStringLiteral("a symbolic link, not a regular file")
                                        : notRegular;
        return -1;
    }
    // O_NONBLOCK: a named pipe put there meanwhile would otherwise hold the program.
    const int fd = ::open(name.constData(), flags | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        error = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        error = notRegular;
        return -1;
    }
    const int blocking = ::fcntl(fd, F_GETFL);
    if (blocking >= 0)
        ::fcntl(fd, F_SETFL, blocking & ~O_NONBLOCK);
    return fd;
}

QString appendHistory(const HistoryEntry &entry)
{
    const QString path = historyPath();
    if (!QDir().mkpath(QFileInfo(path).path()))
        return QStringLiteral("cannot create the folder of %1").arg(path);
    QString error;
    const int fd = openHistoryFile(path, O_RDWR | O_APPEND | O_CREAT, error);
    if (fd < 0)
        return QStringLiteral("cannot open %1: %2").arg(path, error);
    QStringList fields{entry.time.toString(Qt::ISODate),
                       printable(entry.frontEnd),
                       printable(entry.target),
                       printable(entry.file),
                       entry.sha256.isEmpty() ? QStringLiteral("-") : entry.sha256,
                       QString::number(entry.usedPages),
                       QString::number(entry.seconds, 'f', 1),
                       printable(entry.result),
                       printable(entry.port),
                       printable(entry.serial)};
    // Programs that finish together (update --all's workers, two update --each runs) take turns:
    // otherwise each may find the new file empty and write its header. A file system without
    // locks is written unlocked, as before.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    QByteArray line;
    struct stat status;
    const off_t size = ::fstat(fd, &status) == 0 ? status.st_size : 0;
    if (size == 0)
        line = QByteArray(kHistoryHeader) + '\n';
    // A last line cut short (a full disk, a hand edit) must not swallow this one.
    char last = '\n';
    if (size > 0 && ::pread(fd, &last, 1, size - 1) == 1 && last != '\n')
        line = "\n";
    line += fields.join(QLatin1Char('\t')).toUtf8() + '\n';
    // Written with the system's own calls, so that a failure is told in its words (a full disk,
    // the file size limit).
    for (qsizetype done = 0; done < line.size();) {
        const ssize_t written =
            ::write(fd, line.constData() + done, std::size_t(line.size() - done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            const QString why = QString::fromLocal8Bit(std::strerror(written < 0 ? errno : ENOSPC));
            ::close(fd);
            return QStringLiteral("cannot write %1: %2").arg(path, why);
        }
        done += written;
    }
    if (::close(fd) != 0)
        return QStringLiteral("cannot write %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
    return QString();
}
