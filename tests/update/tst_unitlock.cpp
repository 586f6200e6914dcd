// The lock of a unit's port against whatever a local user can put at its path first, a holder
// that is slow to write its mark, a mark read as it is rewritten, and the ways a hold ends. Every
// case runs under an alarm: a lock file that blocks an open fails the test instead of hanging it.

#include "TestFiles.h"
#include "UnitLock.h"
#include "UpdateTexts.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

const QString kPort = QStringLiteral("1-1");
// Long enough for a loaded machine; a hang ends the test with SIGALRM.
constexpr unsigned kAlarmSeconds = 30;
// How long a simulated holder takes to write its mark, or a look keeps its shared lock: well
// within the time a program wanting the lock keeps trying.
constexpr std::chrono::milliseconds kLateMs{20};

int openDescriptors()
{
    DIR *folder = ::opendir("/proc/self/fd");
    if (!folder)
        return -1;
    int count = 0;
    while (const dirent *entry = ::readdir(folder))
        count += entry->d_name[0] != '.';
    ::closedir(folder);
    return count - 1; // the listing's own
}

mode_t modeOf(const QString &path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode : 0;
}

uid_t ownerOf(const QString &path)
{
    struct stat status;
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_uid : uid_t(-1);
}

uid_t nobody()
{
    const passwd *account = ::getpwnam("nobody");
    return account ? account->pw_uid : uid_t(65534);
}

// A descriptor on the file holding the kernel's lock, as another program would.
class RawHold
{
public:
    RawHold(const QString &path, int operation)
        : fd(::open(QFile::encodeName(path).constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666))
    {
        locked = fd >= 0 && ::flock(fd, operation | LOCK_NB) == 0;
    }
    ~RawHold()
    {
        if (fd >= 0)
            ::close(fd);
    }
    RawHold(const RawHold &) = delete;
    RawHold &operator=(const RawHold &) = delete;

    bool locked = false;
    const int fd;
};

} // namespace

Q_DECLARE_METATYPE(UnitLock::Outcome)

class UnitLockTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void take_data();
    void take();
    void refusals_data();
    void refusals();
    void look_data();
    void look();
    void releases_data();
    void releases();

private:
    QString lockPath() const { return folder->filePath(QStringLiteral("zelupdate-port-1-1.lock")); }
    // The bytes of a mark as the program writes it, made through a lock of another port.
    QByteArray markOf(const QString &program, bool finished);

    std::unique_ptr<QTemporaryDir> folder;
};

void UnitLockTest::initTestCase()
{
    // Files are made 0644 unless the program changes their mode.
    ::umask(022);
}

void UnitLockTest::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    // As /run/lock: every user may make a file, only its owner remove it.
    QCOMPARE(::chmod(QFile::encodeName(folder->path()).constData(), 01777), 0);
    qputenv("ZELUPDATE_LOCK_DIR", QFile::encodeName(folder->path()));
    ::alarm(kAlarmSeconds);
}

void UnitLockTest::cleanup()
{
    ::alarm(0);
}

QByteArray UnitLockTest::markOf(const QString &program, bool finished)
{
    const QString port = QStringLiteral("scratch-") + program;
    UnitLock lock;
    if (lock.take(port, program, QStringLiteral("panel")) != UnitLock::Outcome::Taken)
        return QByteArray();
    lock.note(QStringLiteral("writing"));
    if (finished)
        lock.release();
    const QByteArray bytes = readFile(UnitLock::pathFor(port));
    lock.release();
    QFile::remove(UnitLock::pathFor(port));
    return bytes;
}

void UnitLockTest::take_data()
{
    QTest::addColumn<QString>("standing"); // what a user put at the lock path first
    QTest::addColumn<UnitLock::Outcome>("outcome");
    QTest::addColumn<QString>("what"); // the problem says so

    const UnitLock::Outcome taken = UnitLock::Outcome::Taken;
    const UnitLock::Outcome unusable = UnitLock::Outcome::Unusable;
    QTest::newRow("nothing: made, open to every user") << "nothing" << taken << QString();
    // Its mode is its owner's choice: only a file the program made is opened to all.
    QTest::newRow("a lock file left by an earlier update") << "earlier" << taken << QString();
    QTest::newRow("another user's lock file, open to all") << "others" << taken << QString();
    QTest::newRow("a named pipe") << "fifo" << unusable << QString(kLockIsFifo);
    QTest::newRow("a folder") << "folder" << unusable << QString(kLockIsFolder);
    QTest::newRow("a symbolic link to a file")
        << "symlink" << unusable << QString(kLockIsSymbolicLink);
    QTest::newRow("a symbolic link to nothing")
        << "dangling" << unusable << QString(kLockIsSymbolicLink);
    QTest::newRow("a hard link to another file")
        << "hardlink" << unusable << QString(kLockIsHardLink).arg(2);
    QTest::newRow("a socket") << "socket" << unusable << QString(kLockIsSocket);
    QTest::newRow("a file this user may not write")
        << "unwritable" << unusable << QString(kLockNotWritable);
    QTest::newRow("the lock folder named is a file")
        << "folder is a file" << unusable << QString(kLockFolderUnusableText).arg("%1");
}

// Only a regular file with one name is used, opened without blocking and never through a link;
// only a file the program made has its mode changed. Anything else is refused, left as it was,
// with the path and what to remove, and no descriptor kept.
void UnitLockTest::take()
{
    QFETCH(QString, standing);
    QFETCH(UnitLock::Outcome, outcome);
    QFETCH(QString, what);

    const QString path = lockPath();
    const QByteArray name = QFile::encodeName(path);
    const QString other = folder->filePath(QStringLiteral("other"));
    const QByteArray otherBytes("not a lock\n");
    QVERIFY(writeFile(other, otherBytes));
    QCOMPARE(::chmod(QFile::encodeName(other).constData(), 0600), 0);
    const bool root = ::geteuid() == 0;
    if (standing == QLatin1String("earlier")) {
        QVERIFY(writeFile(path, markOf(QStringLiteral("earlier"), true)));
        QCOMPARE(::chmod(name.constData(), 0600), 0);
    } else if (standing == QLatin1String("others")) {
        if (!root)
            QSKIP("only root can make a file another user's");
        QVERIFY(writeFile(path, QByteArray()));
        QCOMPARE(::chmod(name.constData(), 0662), 0);
        QCOMPARE(::chown(name.constData(), nobody(), gid_t(-1)), 0);
    } else if (standing == QLatin1String("fifo")) {
        QCOMPARE(::mkfifo(name.constData(), 0666), 0);
    } else if (standing == QLatin1String("folder")) {
        QVERIFY(QDir().mkdir(path));
    } else if (standing == QLatin1String("symlink")) {
        QVERIFY(QFile::link(other, path));
    } else if (standing == QLatin1String("dangling")) {
        QVERIFY(QFile::link(folder->filePath(QStringLiteral("made-through-link")), path));
    } else if (standing == QLatin1String("hardlink")) {
        QCOMPARE(::link(QFile::encodeName(other).constData(), name.constData()), 0);
    } else if (standing == QLatin1String("socket")) {
        const int listening = ::socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        QVERIFY(std::size_t(name.size()) < sizeof address.sun_path);
        std::memcpy(address.sun_path, name.constData(), std::size_t(name.size()));
        QCOMPARE(::bind(listening, reinterpret_cast<const sockaddr *>(&address), sizeof address),
                 0);
        ::close(listening);
    } else if (standing == QLatin1String("unwritable")) {
        // Root writes any file: it is made root's, and the lock taken as another user.
        QVERIFY(writeFile(path, QByteArray()));
        QCOMPARE(::chmod(name.constData(), root ? 0644 : 0444), 0);
    } else if (standing == QLatin1String("folder is a file")) {
        qputenv("ZELUPDATE_LOCK_DIR", QFile::encodeName(other));
        what = what.arg(other);
    }
    const mode_t modeBefore = modeOf(path);
    const uid_t ownerBefore = ownerOf(path);
    const QByteArray bytesBefore = readFile(path);

    const int descriptors = openDescriptors();
    UnitLock lock;
    if (standing == QLatin1String("unwritable") && root)
        QCOMPARE(::seteuid(nobody()), 0);
    const UnitLock::Outcome got =
        lock.take(kPort, QStringLiteral("zelupdate-cli"), QStringLiteral("panel"));
    if (::geteuid() != 0 && root)
        QCOMPARE(::seteuid(0), 0);
    qputenv("ZELUPDATE_LOCK_DIR", QFile::encodeName(folder->path()));

    QCOMPARE(int(got), int(outcome));
    QCOMPARE(openDescriptors(), descriptors + (got == UnitLock::Outcome::Taken ? 1 : 0));
    // Whatever else stands at the path, or beyond it, is left as it was.
    QCOMPARE(readFile(other), otherBytes);
    QCOMPARE(modeOf(other) & 07777, mode_t(0600));
    QVERIFY(!QFileInfo::exists(folder->filePath(QStringLiteral("made-through-link"))));
    if (outcome == UnitLock::Outcome::Unusable) {
        QVERIFY2(lock.problem().contains(what), qPrintable(lock.problem()));
        if (standing != QLatin1String("folder is a file"))
            QVERIFY2(lock.problem().startsWith(QStringLiteral("The lock file %1 ").arg(path)),
                     qPrintable(lock.problem()));
        QCOMPARE(modeOf(path), modeBefore);
        QCOMPARE(readFile(path), bytesBefore);
        return;
    }
    QCOMPARE(lock.problem(), QString());
    bool held = false;
    const std::optional<UnitMark> mark = UnitLock::read(kPort, held);
    QVERIFY(mark && held);
    QCOMPARE(mark->program, QStringLiteral("zelupdate-cli"));
    QCOMPARE(mark->process, qint64(::getpid()));
    if (standing == QLatin1String("nothing"))
        QCOMPARE(modeOf(path) & 07777, mode_t(0666));
    else
        QCOMPARE(modeOf(path), modeBefore);
    QCOMPARE(ownerOf(path), standing == QLatin1String("nothing") ? ::geteuid() : ownerBefore);
    lock.release();
    QCOMPARE(openDescriptors(), descriptors);
}

void UnitLockTest::refusals_data()
{
    QTest::addColumn<QString>("holding"); // "update": another's UnitLock; "program": a bare flock
    QTest::addColumn<QString>("content"); // the file before the holder writes
    QTest::addColumn<bool>("lateMark");   // the holder writes its mark once the take has begun
    QTest::addColumn<UnitLock::Outcome>("outcome");
    QTest::addColumn<QString>("named"); // the holder's program as the refusal names it

    const UnitLock::Outcome held = UnitLock::Outcome::HeldByAnother;
    QTest::newRow("an update with its mark") << "update"
                                             << "" << false << held << "holder";
    // The holder writes its mark just after taking the lock: the refusal waits for it.
    QTest::newRow("a finished earlier mark, the holder's written late")
        << "program"
        << "finished" << true << held << "holder";
    QTest::newRow("a finished earlier mark, none of the holder's")
        << "program"
        << "finished" << false << held << "";
    QTest::newRow("a torn mark") << "program"
                                 << "torn" << false << held << "";
    // Another program's look holds a shared lock for a moment: an update is not refused for it.
    QTest::newRow("a look at the lock") << "look"
                                        << "finished" << false << UnitLock::Outcome::Taken << "";
}

// A refusal names the live holder and nobody else, leaves the mark as it was, and keeps no
// descriptor.
void UnitLockTest::refusals()
{
    QFETCH(QString, holding);
    QFETCH(QString, content);
    QFETCH(bool, lateMark);
    QFETCH(UnitLock::Outcome, outcome);
    QFETCH(QString, named);

    const QByteArray holderMark = markOf(QStringLiteral("holder"), false);
    const QByteArray finished = markOf(QStringLiteral("earlier"), true);
    QVERIFY(!holderMark.isEmpty() && !finished.isEmpty());
    if (content == QLatin1String("finished"))
        QVERIFY(writeFile(lockPath(), finished));
    // Begun as one mark and ended as another, as a read across a rewrite would see it.
    if (content == QLatin1String("torn"))
        QVERIFY(writeFile(lockPath(), finished.left(20) + holderMark.mid(20)));

    UnitLock update;
    std::unique_ptr<RawHold> raw;
    if (holding == QLatin1String("update")) {
        QCOMPARE(update.take(kPort, QStringLiteral("holder"), QStringLiteral("panel")),
                 UnitLock::Outcome::Taken);
    } else {
        raw = std::make_unique<RawHold>(lockPath(),
                                        holding == QLatin1String("look") ? LOCK_SH : LOCK_EX);
        QVERIFY(raw->locked);
    }
    const QByteArray before = readFile(lockPath());
    ssize_t written = 0;
    std::thread holder([&] {
        if (!lateMark && holding != QLatin1String("look"))
            return;
        std::this_thread::sleep_for(kLateMs);
        if (lateMark)
            written = ::pwrite(raw->fd, holderMark.constData(), std::size_t(holderMark.size()), 0);
        else
            ::flock(raw->fd, LOCK_UN);
    });

    const int descriptors = openDescriptors();
    UnitLock refused;
    const UnitLock::Outcome got =
        refused.take(kPort, QStringLiteral("zelupdate-cli"), QStringLiteral("board"));
    holder.join();

    QCOMPARE(written, lateMark ? ssize_t(holderMark.size()) : ssize_t(0));
    QCOMPARE(int(got), int(outcome));
    if (got == UnitLock::Outcome::Taken) {
        QCOMPARE(openDescriptors(), descriptors + 1);
        return;
    }
    QCOMPARE(openDescriptors(), descriptors);
    QCOMPARE(refused.holder() ? refused.holder()->program : QString(), named);
    QCOMPARE(readFile(lockPath()), lateMark ? holderMark : before);
}

void UnitLockTest::look_data()
{
    QTest::addColumn<QString>("standing");
    QTest::addColumn<QString>("program"); // the mark's; empty: none read
    QTest::addColumn<bool>("held");
    QTest::addColumn<bool>("problem");

    QTest::newRow("no lock file") << "nothing"
                                  << "" << false << false;
    QTest::newRow("a named pipe") << "fifo"
                                  << "" << false << true;
    QTest::newRow("an update running") << "update"
                                       << "holder" << true << false;
    QTest::newRow("a holder without a mark") << "program"
                                             << "" << true << false;
    // Its process still runs, but holds no lock: nothing is being updated.
    QTest::newRow("an unfinished mark, not held") << "unfinished"
                                                  << "died" << false << false;
    QTest::newRow("a torn mark") << "torn"
                                 << "" << false << false;
    // Written whole by an earlier version, without a checksum: what it says still counts.
    QTest::newRow("an earlier version's mark") << "earlier"
                                               << "old" << false << false;
    // Padded as this version pads, but its checksum gone: torn, not an earlier version's.
    QTest::newRow("a padded mark without its checksum") << "unchecked"
                                                        << "" << false << false;
}

// What `list` and `update --each` learn without taking the lock: held only while a program
// holds it, whatever process the mark names.
void UnitLockTest::look()
{
    QFETCH(QString, standing);
    QFETCH(QString, program);
    QFETCH(bool, held);
    QFETCH(bool, problem);

    UnitLock update;
    std::unique_ptr<RawHold> raw;
    if (standing == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(lockPath()).constData(), 0666), 0);
    if (standing == QLatin1String("update"))
        QCOMPARE(update.take(kPort, QStringLiteral("holder"), QStringLiteral("panel")),
                 UnitLock::Outcome::Taken);
    if (standing == QLatin1String("program")) {
        raw = std::make_unique<RawHold>(lockPath(), LOCK_EX);
        QVERIFY(raw->locked);
    }
    if (standing == QLatin1String("unfinished")) {
        UnitLock died;
        QCOMPARE(died.take(kPort, QStringLiteral("died"), QStringLiteral("panel")),
                 UnitLock::Outcome::Taken);
        died.note(QStringLiteral("writing"));
        died.releaseUnfinished();
    }
    if (standing == QLatin1String("earlier"))
        QVERIFY(writeFile(lockPath(), "program=old\nprocess=1\ntarget=board\n"
                                      "started=2026-12-09T11:44:10\nphase=writing\nfinished=no\n"));
    if (standing == QLatin1String("unchecked")) {
        QByteArray mark = markOf(QStringLiteral("holder"), false);
        const int check = mark.indexOf("check=");
        QVERIFY(check > 0);
        QVERIFY(writeFile(lockPath(), mark.left(check).leftJustified(mark.size(), '\n')));
    }
    if (standing == QLatin1String("torn")) {
        const QByteArray mark = markOf(QStringLiteral("holder"), false);
        QVERIFY(writeFile(lockPath(), mark.left(30) + 'X' + mark.mid(31)));
    }

    const int descriptors = openDescriptors();
    const LockLook found = UnitLock::look(kPort);
    QCOMPARE(openDescriptors(), descriptors);
    QCOMPARE(found.mark ? found.mark->program : QString(), program);
    QCOMPARE(found.held, held);
    QVERIFY2(found.problem.isEmpty() != problem, qPrintable(found.problem));
    // A look never keeps a lock from being taken once its holder is gone.
    if (!held) {
        UnitLock next;
        QCOMPARE(next.take(kPort, QStringLiteral("next"), QStringLiteral("panel")),
                 problem ? UnitLock::Outcome::Unusable : UnitLock::Outcome::Taken);
    }
}

void UnitLockTest::releases_data()
{
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("finished");
    QTest::addColumn<bool>("updated");
    QTest::addColumn<QString>("sha256");

    const QString sha =
        QStringLiteral("5fe10f0efcb5b4d92d54c7b193798bc80424b2578dd98a1a08fbd34d99cf7211");
    QTest::newRow("updated") << "updated"
                             << "zelupdate-cli" << true << true << sha;
    QTest::newRow("failed") << "failed"
                            << "zelupdate-cli" << true << false << sha;
    // It may have left its unit in a bootloader: the next program is told.
    QTest::newRow("unfinished") << "unfinished"
                                << "zelupdate-cli" << false << false << sha;
    // Nothing was written: the earlier unfinished mark still tells of the bootloader.
    QTest::newRow("with the earlier mark") << "earlier"
                                           << "died" << false << false << QString();
}

// How a hold ends is what the next program reads.
void UnitLockTest::releases()
{
    QFETCH(QString, ending);
    QFETCH(QString, program);
    QFETCH(bool, finished);
    QFETCH(bool, updated);
    QFETCH(QString, sha256);

    {
        UnitLock died;
        QCOMPARE(died.take(kPort, QStringLiteral("died"), QStringLiteral("panel")),
                 UnitLock::Outcome::Taken);
        died.note(QStringLiteral("writing"));
        died.releaseUnfinished();
    }
    const QDateTime before = QDateTime::currentDateTimeUtc();
    UnitLock lock;
    QCOMPARE(lock.take(kPort, QStringLiteral("zelupdate-cli"), QStringLiteral("panel")),
             UnitLock::Outcome::Taken);
    QCOMPARE(lock.holder() ? lock.holder()->program : QString(), QStringLiteral("died"));
    lock.note(QStringLiteral("verifying"));
    lock.noteResult(
        QStringLiteral("5fe10f0efcb5b4d92d54c7b193798bc80424b2578dd98a1a08fbd34d99cf7211"),
        ending == QLatin1String("updated"));
    if (ending == QLatin1String("unfinished"))
        lock.releaseUnfinished();
    else if (ending == QLatin1String("earlier"))
        lock.releaseWithEarlierMark();
    else
        lock.release();

    bool held = true;
    const std::optional<UnitMark> mark = UnitLock::read(kPort, held);
    QVERIFY(mark);
    QVERIFY(!held);
    QCOMPARE(mark->program, program);
    QCOMPARE(mark->finished, finished);
    QCOMPARE(mark->updated, updated);
    QCOMPARE(mark->sha256, sha256);
    QCOMPARE(mark->phase, ending == QLatin1String("earlier") ? QStringLiteral("writing")
                                                             : QStringLiteral("verifying"));
    QCOMPARE(mark->ended.isValid(), finished);
    if (finished)
        QVERIFY(mark->ended >= before.addMSecs(-1));
}

QTEST_GUILESS_MAIN(UnitLockTest)
#include "tst_unitlock.moc"
