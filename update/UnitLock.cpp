#include "UnitLock.h"

#include "ConnectionAdvice.h"
#include "Printable.h"
#include "UpdateProgress.h"
#include "UpdateTexts.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QList>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Every mark is written whole, at offset 0, padded to this size: a mark is never truncated, so a
// reader finds either a whole mark before its checksum line or a torn one it can tell.
constexpr int kMarkSize = 1024;
// A field longer than this is cut, so that every mark fits.
constexpr int kFieldLimit = 200;
constexpr char kCheckKey[] = "check=";
// How long a program wanting the lock keeps trying, at most: another program's look at the lock
// holds it for a moment, and a holder writes its mark just after taking it.
constexpr int kTakeLooks = 20;
constexpr int kTakeLookMs = 10;
// How long a reader looks again at a mark that was being rewritten as it read it.
constexpr int kTornLooks = 10;
constexpr int kTornLookMs = 2;
// Opens that neither follow a link nor wait for a writer (a named pipe would block forever).
constexpr int kSafeOpen = O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

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

// Where the lock files go: a folder, or why the one named cannot be used; neither when there is
// no folder at all.
struct LockPlace
{
    QString folder;
    QString problem;
};

LockPlace lockPlace()
{
    const QString chosen = qEnvironmentVariable("ZELUPDATE_LOCK_DIR");
    if (!chosen.isEmpty()) {
        QDir().mkpath(chosen);
        if (usableFolder(chosen))
            return {chosen, QString()};
        return {QString(), QString::fromLatin1(kLockFolderUnusableText).arg(printable(chosen))};
    }
    for (const QString &folder :
         {QStringLiteral("/run/lock"), qEnvironmentVariable("XDG_RUNTIME_DIR")})
        if (usableFolder(folder))
            return {folder, QString()};
    return {};
}

// Who may remove a file in a folder such as /run/lock, where only its owner and root may.
QString removedBy(uid_t owner)
{
    if (owner == ::geteuid())
        return QString();
    if (owner == 0)
        return QLatin1String(kLockRemovedByRoot);
    const passwd *account = ::getpwuid(owner);
    return QString::fromLatin1(kLockRemovedByOwner)
        .arg(account ? printable(QString::fromLocal8Bit(account->pw_name))
                     : QStringLiteral("user %1").arg(owner));
}

QString unusableText(const QString &path, const QString &what, uid_t owner)
{
    return QString::fromLatin1(kLockUnusableText).arg(printable(path), what, removedBy(owner));
}

QString systemWords(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Why what the status describes cannot be a lock file; empty for a regular file with one name.
QString kindProblem(const struct stat &status)
{
    switch (status.st_mode & S_IFMT) {
    case S_IFREG:
        return status.st_nlink == 1 ? QString()
                                    : QString::fromLatin1(kLockIsHardLink)
                                          .arg(QString::number(qulonglong(status.st_nlink)));
    case S_IFDIR:
        return QLatin1String(kLockIsFolder);
    case S_IFLNK:
        return QLatin1String(kLockIsSymbolicLink);
    case S_IFIFO:
        return QLatin1String(kLockIsFifo);
    case S_IFSOCK:
        return QLatin1String(kLockIsSocket);
    default:
        return QLatin1String(kLockIsDevice);
    }
}

// An existing lock file, opened; or nothing there; or why it cannot be used.
struct Opened
{
    int fd = -1;
    bool gone = false;
    QString problem;
};

// Opens what stands at the path only when it is a regular file with one name, and checks that
// what was opened is what was looked at.
Opened openExisting(const QString &path, int access)
{
    const QByteArray name = QFile::encodeName(path);
    Opened opened;
    struct stat before;
    if (::lstat(name.constData(), &before) != 0) {
        const int error = errno;
        if (error == ENOENT)
            opened.gone = true;
        else
            opened.problem = unusableText(
                path, QString::fromLatin1(kLockNotOpened).arg(systemWords(error)), ::geteuid());
        return opened;
    }
    QString what = kindProblem(before);
    if (!what.isEmpty()) {
        opened.problem = unusableText(path, what, before.st_uid);
        return opened;
    }
    const int fd = ::open(name.constData(), access | kSafeOpen);
    if (fd < 0) {
        const int error = errno;
        if (error == ENOENT) {
            opened.gone = true;
            return opened;
        }
        const bool writing = (access & O_ACCMODE) != O_RDONLY;
        what = error == EACCES && writing ? QString::fromLatin1(kLockNotWritable)
               : error == ELOOP           ? QString::fromLatin1(kLockIsSymbolicLink)
                                : QString::fromLatin1(kLockNotOpened).arg(systemWords(error));
        opened.problem = unusableText(path, what, before.st_uid);
        return opened;
    }
    struct stat after;
    if (::fstat(fd, &after) != 0 || after.st_dev != before.st_dev ||
        after.st_ino != before.st_ino) {
        ::close(fd);
        opened.problem = unusableText(path, QLatin1String(kLockChanged), before.st_uid);
        return opened;
    }
    // A name linked to it since the look.
    what = kindProblem(after);
    if (!what.isEmpty()) {
        ::close(fd);
        opened.problem = unusableText(path, what, after.st_uid);
        return opened;
    }
    opened.fd = fd;
    return opened;
}

// Creates the lock file, or opens the one there. Only a file made here gets its mode changed:
// anything else at the path is another's, and may be linked to a file that is no lock.
Opened openLockFile(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    // Something may be made or removed at the path between two tries; a few are enough.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | kSafeOpen, 0666);
        if (fd >= 0) {
            ::fchmod(fd, 0666); // so that the next user's program can write its mark
            return {fd, false, QString()};
        }
        const int createError = errno;
        Opened existing = openExisting(path, O_RDWR);
        if (!existing.gone)
            return existing;
        if (createError != EEXIST)
            return {-1, false,
                    QString::fromLatin1(kLockNotCreatedText)
                        .arg(printable(path), systemWords(createError))};
    }
    return {-1, false, unusableText(path, QLatin1String(kLockChanged), ::geteuid())};
}

QByteArray field(const char *key, const QString &value)
{
    QString text = value.left(kFieldLimit);
    for (QChar &c : text)
        if (c == QLatin1Char('\n') || c == QLatin1Char('\r'))
            c = QLatin1Char(' ');
    return QByteArray(key) + '=' + text.toUtf8() + '\n';
}

QByteArray checkOf(const QByteArray &body)
{
    return QCryptographicHash::hash(body, QCryptographicHash::Sha256).toHex();
}

QByteArray markBytes(const UnitMark &mark)
{
    const auto yesNo = [](bool yes) { return yes ? QStringLiteral("yes") : QStringLiteral("no"); };
    QByteArray body =
        field("program", mark.program) + field("process", QString::number(mark.process)) +
        field("target", mark.target) + field("started", mark.started.toString(Qt::ISODate)) +
        field("phase", mark.phase) + field("finished", yesNo(mark.finished)) +
        field("sha256", mark.sha256) + field("updated", yesNo(mark.updated)) +
        field("ended", mark.ended.toString(Qt::ISODateWithMs));
    body += kCheckKey + checkOf(body) + '\n';
    // Padded with empty lines, which a reader skips: the next mark covers every byte of this one.
    body.append(kMarkSize - body.size(), '\n');
    return body;
}

UnitMark fieldsOf(const QByteArray &body)
{
    UnitMark mark;
    for (const QByteArray &line : body.split('\n')) {
        const int equals = line.indexOf('=');
        if (equals <= 0)
            continue;
        const QByteArray key = line.left(equals);
        const QString value = QString::fromUtf8(line.mid(equals + 1));
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
        else if (key == "sha256")
            mark.sha256 = value;
        else if (key == "updated")
            mark.updated = value == QLatin1String("yes");
        else if (key == "ended")
            mark.ended = QDateTime::fromString(value, Qt::ISODateWithMs);
    }
    return mark;
}

// The mark before its checksum line, when the checksum matches. A mark shorter than the padded
// size, without a checksum, is an earlier version's, written whole: it is read as it stands, so
// that an update it says did not finish is still told of. `torn`: there was text, but no checksum
// that matches it.
std::optional<UnitMark> parseMark(const QByteArray &bytes, bool &torn)
{
    torn = false;
    const int check = bytes.startsWith(kCheckKey) ? 0 : bytes.indexOf(QByteArray("\n") + kCheckKey);
    if (check < 0) {
        if (bytes.trimmed().isEmpty())
            return std::nullopt;
        if (bytes.size() < kMarkSize)
            return fieldsOf(bytes);
        torn = true;
        return std::nullopt;
    }
    const QByteArray body = bytes.left(check == 0 ? 0 : check + 1);
    const int valueAt = (check == 0 ? 0 : check + 1) + int(sizeof kCheckKey) - 1;
    const int lineEnd = bytes.indexOf('\n', valueAt);
    if (lineEnd < 0 || bytes.mid(valueAt, lineEnd - valueAt) != checkOf(body)) {
        torn = true;
        return std::nullopt;
    }
    return fieldsOf(body);
}

// The mark in the file; none when there is none, or when it stays torn for a while (a program
// that writes its marks otherwise).
std::optional<UnitMark> readMark(int fd)
{
    std::array<char, kMarkSize> bytes;
    for (int look = 0;; ++look) {
        const ssize_t got = ::pread(fd, bytes.data(), bytes.size(), 0);
        bool torn = false;
        const std::optional<UnitMark> mark =
            parseMark(QByteArray(bytes.data(), got > 0 ? int(got) : 0), torn);
        if (!torn || look + 1 >= kTornLooks)
            return mark;
        ::usleep(kTornLookMs * 1000);
    }
}

bool processRuns(qint64 process)
{
    return process > 0 && (::kill(pid_t(process), 0) == 0 || errno == EPERM);
}

} // namespace

bool UnitMark::unfinishedPastEntry() const
{
    return !finished && pastEntry(phase);
}

UnitLock::~UnitLock()
{
    release();
}

QString UnitLock::pathFor(const QString &port)
{
    const QString folder = lockPlace().folder;
    return folder.isEmpty() ? QString() : QDir(folder).filePath(fileNameFor(port));
}

UnitLock::Outcome UnitLock::take(const QString &port, const QString &program, const QString &target)
{
    release();
    found.reset();
    unusable.clear();
    const LockPlace place = lockPlace();
    if (!place.problem.isEmpty()) {
        unusable = place.problem;
        return Outcome::Unusable;
    }
    if (place.folder.isEmpty())
        return Outcome::NoPlace;
    const Opened opened = openLockFile(QDir(place.folder).filePath(fileNameFor(port)));
    if (opened.fd < 0) {
        unusable = opened.problem;
        return Outcome::Unusable;
    }
    fd = opened.fd;
    for (int look = 1;; ++look) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            found = readMark(fd);
            mark = UnitMark{program,    qint64(::getpid()),
                            target,     QDateTime::currentDateTime(),
                            QString(),  false,
                            QString(),  false,
                            QDateTime()};
            write();
            return Outcome::Taken;
        }
        const int error = errno;
        if (error != EWOULDBLOCK) {
            unusable = QString::fromLatin1(kLockNotLockedText)
                           .arg(printable(QDir(place.folder).filePath(fileNameFor(port))),
                                systemWords(error));
            close();
            return Outcome::Unusable;
        }
        found = readMark(fd);
        if (look >= kTakeLooks)
            break;
        ::usleep(kTakeLookMs * 1000);
    }
    // A finished mark, or one whose program has ended, is not the holder's.
    if (found && (found->finished || !processRuns(found->process)))
        found.reset();
    close();
    return Outcome::HeldByAnother;
}

void UnitLock::note(const QString &phase)
{
    if (fd < 0 || mark.phase == phase)
        return;
    mark.phase = phase;
    write();
}

void UnitLock::noteResult(const QString &sha256, bool updated)
{
    if (fd < 0)
        return;
    mark.sha256 = sha256;
    mark.updated = updated;
    write();
}

void UnitLock::release()
{
    if (fd < 0)
        return;
    mark.finished = true;
    mark.ended = QDateTime::currentDateTimeUtc();
    write();
    close();
}

void UnitLock::releaseUnfinished()
{
    if (fd < 0)
        return;
    close(); // the mark written last stays
}

void UnitLock::releaseWithEarlierMark()
{
    if (fd < 0 || !found) {
        release();
        return;
    }
    mark = *found;
    write();
    close();
}

void UnitLock::write()
{
    const QByteArray bytes = markBytes(mark);
    // One write of the whole mark: a reader sees the earlier mark or this one, or a torn one
    // whose checksum tells it to look again. A mark that cannot be written only loses the note.
    const ssize_t written = ::pwrite(fd, bytes.constData(), std::size_t(bytes.size()), 0);
    Q_UNUSED(written);
}

void UnitLock::close()
{
    ::close(fd); // releases the lock
    fd = -1;
}

LockLook UnitLock::look(const QString &port)
{
    LockLook look;
    const LockPlace place = lockPlace();
    look.problem = place.problem;
    if (place.folder.isEmpty())
        return look;
    const Opened opened = openExisting(QDir(place.folder).filePath(fileNameFor(port)), O_RDONLY);
    look.problem = opened.problem;
    if (opened.fd < 0)
        return look;
    // Only a program that holds the lock keeps a shared one from being taken; taken, it is given
    // back at once, so that an update starting now waits a moment at most.
    if (::flock(opened.fd, LOCK_SH | LOCK_NB) == 0) {
        look.mark = readMark(opened.fd);
        ::flock(opened.fd, LOCK_UN);
    } else {
        look.held = errno == EWOULDBLOCK;
        // Read while its holder may rewrite it: a torn mark is looked at again.
        look.mark = readMark(opened.fd);
    }
    ::close(opened.fd);
    return look;
}

std::optional<UnitMark> UnitLock::read(const QString &port, bool &held)
{
    LockLook found = look(port);
    held = found.held;
    return found.mark;
}
