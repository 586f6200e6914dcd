#include "UnitLock.h"

#include "UpdateProgress.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QList>

#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// How long a refused program waits for the holder's mark, at most.
constexpr int kMarkLooks = 20;
constexpr int kMarkLookMs = 10;

// A port names a folder in sysfs; anything else that reaches a file name is replaced.
QString fileNameFor(const QString &port)
{
    QString name = port;
    for (QChar &c : name)
        if (!(c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('.')))
            c = QLatin1Char('_');
    return QStringLiteral("zelupdate-port-%1.lock").arg(name);
}

bool usableFolder(const QString &folder)
{
    return !folder.isEmpty() && ::access(QFile::encodeName(folder).constData(), W_OK | X_OK) == 0;
}

QString lockFolder()
{
    const QString chosen = qEnvironmentVariable("ZELUPDATE_LOCK_DIR");
    if (!chosen.isEmpty()) {
        QDir().mkpath(chosen);
        return usableFolder(chosen) ? chosen : QString();
    }
    for (const QString &folder :
         {QStringLiteral("/run/lock"), qEnvironmentVariable("XDG_RUNTIME_DIR")})
        if (usableFolder(folder))
            return folder;
    return QString();
}

std::optional<UnitMark> parse(const QByteArray &text)
{
    UnitMark mark;
    bool any = false;
    for (const QByteArray &line : text.split('\n')) {
        const int equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals);
        const QString value = QString::fromUtf8(line.mid(equals + 1));
        any = true;
        if (key == "program")
            mark.program = value;
        else if (key == "process")
            mark.process = value.toLongLong();
        else if (key == "target")
            mark.target = value;
        else if (key == "started")
            mark.started = QDateTime::fromString(value, Qt::ISODate);
        else if (key == "phase")
            mark.phase = value;
        else if (key == "finished")
            mark.finished = value == QLatin1String("yes");
    }
    if (!any)
        return std::nullopt;
    return mark;
}

QByteArray readAll(int fd)
{
    QByteArray text;
    char block[512];
    ::lseek(fd, 0, SEEK_SET);
    for (ssize_t got; (got = ::read(fd, block, sizeof block)) > 0 && text.size() < 4096;)
        text.append(block, int(got));
    return text;
}

int openLockFile(const QString &path, bool create)
{
    const QByteArray name = QFile::encodeName(path);
    int fd =
        ::open(name.constData(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | (create ? O_CREAT : 0), 0666);
    // Made by another user: a lock is taken on a descriptor open for reading too.
    if (fd < 0 && errno == EACCES)
        fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd >= 0 && create)
        ::fchmod(fd, 0666); // so that the next user's program can write its mark
    return fd;
}

} // namespace

bool UnitMark::unfinishedPastEntry() const
{
    return !finished && !phase.isEmpty() &&
           phase != QLatin1String(phaseName(UpdatePhase::Connecting));
}

UnitLock::~UnitLock()
{
    release();
}

QString UnitLock::pathFor(const QString &port)
{
    const QString folder = lockFolder();
    return folder.isEmpty() ? QString() : QDir(folder).filePath(fileNameFor(port));
}

UnitLock::Outcome UnitLock::take(const QString &port, const QString &program, const QString &target)
{
    release();
    const QString path = pathFor(port);
    if (path.isEmpty())
        return Outcome::NoPlace;
    fd = openLockFile(path, true);
    if (fd < 0)
        return Outcome::NoPlace;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    found = parse(readAll(fd));
    if (held) {
        // The holder writes its mark just after taking the lock: give it that moment, so that
        // the refusal can name it.
        for (int look = 0; look < kMarkLooks && !(found && !found->finished); ++look) {
            ::usleep(kMarkLookMs * 1000);
            found = parse(readAll(fd));
        }
        if (found && found->finished)
            found.reset();
        ::close(fd);
        fd = -1;
        return Outcome::HeldByAnother;
    }
    mark = UnitMark{program, qint64(::getpid()), target, QDateTime::currentDateTime(), {}, false};
    write();
    return Outcome::Taken;
}

void UnitLock::note(const QString &phase)
{
    if (fd < 0 || mark.phase == phase)
        return;
    mark.phase = phase;
    write();
}

void UnitLock::release()
{
    if (fd < 0)
        return;
    mark.finished = true;
    write();
    ::close(fd); // releases the lock
    fd = -1;
}

void UnitLock::releaseUnfinished()
{
    if (fd < 0)
        return;
    ::close(fd); // releases the lock; the mark written last stays
    fd = -1;
}

void UnitLock::releaseWithEarlierMark()
{
    if (fd < 0 || !found) {
        release();
        return;
    }
    mark = *found;
    write();
    ::close(fd); // releases the lock
    fd = -1;
}

void UnitLock::write()
{
    const QByteArray text = QStringLiteral("program=%1\nprocess=%2\ntarget=%3\nstarted=%4\n"
                                           "phase=%5\nfinished=%6\n")
                                .arg(mark.program)
                                .arg(mark.process)
                                .arg(mark.target, mark.started.toString(Qt::ISODate), mark.phase,
                                     mark.finished ? QStringLiteral("yes") : QStringLiteral("no"))
                                .toUtf8();
    // A mark that cannot be written (a file another user made) only loses the note.
    if (::ftruncate(fd, 0) == 0) {
        const ssize_t written = ::pwrite(fd, text.constData(), std::size_t(text.size()), 0);
        Q_UNUSED(written);
    }
}

std::optional<UnitMark> UnitLock::read(const QString &port, bool &held)
{
    held = false;
    const QString path = pathFor(port);
    if (path.isEmpty())
        return std::nullopt;
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    std::optional<UnitMark> mark = parse(readAll(fd));
    ::close(fd);
    // Taking the lock to look would refuse an update that starts at that moment: the mark's
    // process is asked instead.
    held = mark && !mark->finished && mark->process > 0 &&
           (::kill(pid_t(mark->process), 0) == 0 || errno == EPERM);
    return mark;
}
