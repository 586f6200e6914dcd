// zelupdate-cli update on one unit, in this process against the simulated devices, with instant
// restarts and no latency; the waits are recorded, not slept. Every case checks the exit status
// and the exact texts a script or a technician would read, and what stands at the unit's lock as
// update, probe and list tell it.

#include "CliFixture.h"
#include "CliRun.h"
#include "CliTexts.h"
#include "HexFileCheck.h"
#include "SimulatedDevices.h"
#include "TestFiles.h"
#include "UnitLock.h"
#include "UpdateTexts.h"

#include <QRegularExpression>
#include <QtTest>

#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <optional>

using sim::FaultKind;
using sim::FaultTrigger;
using sim::PanelAccess;
using sim::SimulatedDevices;

namespace {

// Removes whatever stands at the unit's lock path, so that no case leaves another a lock it cannot
// use.
bool clearLockPath(const QString &port)
{
    const QString path = UnitLock::pathFor(port);
    const QFileInfo standing(path);
    if (!standing.exists() && !standing.isSymLink())
        return true;
    return standing.isDir() && !standing.isSymLink() ? QDir().rmdir(path) : QFile::remove(path);
}

} // namespace

class UpdateCommandTest : public CliFixture
{
    Q_OBJECT

private slots:

    void exitCodes_data();
    void exitCodes();
    void lockRefusals_data();
    void lockRefusals();
};

void UpdateCommandTest::exitCodes_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("fileKey");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("access");
    QTest::addColumn<QByteArray>("faultCommand");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("restartMs");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message"); // in standard error; %1 is the file
    QTest::addColumn<bool>("sends");      // whether any report reaches a device
    QTest::addColumn<QString>("image");   // the flash then equals this file's objcopy image
    // What the file becomes while the target restarts into its bootloader, after it was checked.
    QTest::addColumn<QString>("changedTo");
    // Whether the unit's lock then says that its update did not finish: it may be in a bootloader.
    QTest::addColumn<bool>("unfinished");

    const QStringList none;
    const int open = int(PanelAccess::Open);
    const int noReply = int(FaultKind::NoReply);
    const QString error = QString::fromLatin1(kErrorPrefix);
    const QString noPanel = QStringLiteral("%1\n%2\n").arg(kNoPanelText, kNoPanelAdvice);

    QTest::newRow("panel updated") << "panel"
                                   << "panel" << none << 1 << open << QByteArray() << 0 << 0 << 0
                                   << 0 << QString(kPanelUpdatedText) + '\n'
                                   << true << "panel" << QString() << false;
    QTest::newRow("board updated") << "board"
                                   << "board" << none << 1 << open << QByteArray() << 0 << 0 << 0
                                   << 0 << QString(kBoardUpdatedText) + '\n'
                                   << true << "board" << QString() << false;
    QTest::newRow("no device") << "board"
                               << "board" << none << 0 << open << QByteArray() << 0 << 0 << 0 << 4
                               << noPanel << false << "" << QString() << false;
    QTest::newRow("two devices")
        << "panel"
        << "panel" << none << 2 << open << QByteArray() << 0 << 0 << 0 << 4
        << QStringLiteral("2 ControlPanels are attached (1-1, 1-2): choose one with --port\n")
        << false << "" << QString() << false;
    QTest::newRow("no permission")
        << "board"
        << "board" << none << 1 << int(PanelAccess::NoPermission) << QByteArray() << 0 << 0 << 0
        << 4
        << noPanel + QStringLiteral("\n%1 (ZEL ControlPanel), serial number CP1000: %2.\n%3\n")
                         .arg(QString::fromStdString(SimulatedDevices::panelPath(0)),
                              kNoPermissionText, kNoPermissionAdvice)
        << false << "" << QString() << false;
    QTest::newRow("busy") << "panel"
                          << "panel" << none << 1 << int(PanelAccess::Busy) << QByteArray() << 0
                          << 0 << 0 << 4
                          << QStringLiteral(": %1.\n%2\n").arg(kBusyText, kBusyAdvice) << false
                          << "" << QString() << false;
    QTest::newRow("check not echoed")
        << "board"
        << "board" << none << 1 << open << QByteArray("Ee") << 0 << int(FaultKind::WrongEcho) << 0
        << 5 << QString(kNoConnectionError) + '\n'
        << true << "" << QString() << false;
    QTest::newRow("panel entry not echoed")
        << "panel"
        << "panel" << none << 1 << open << QByteArray("Bb") << 0 << noReply << 0 << 5
        << error + kBootloaderEntryError + '\n'
        << true << "" << QString() << true;
    QTest::newRow("board entry not echoed")
        << "board"
        << "board" << none << 1 << open << QByteArray("Kk") << 0 << int(FaultKind::WrongEcho) << 0
        << 5 << error + kBootloaderEntryError + '\n'
        << true << "" << QString() << true;
    // The unit is followed at its port for as long as --restart-timeout allows.
    QTest::newRow("panel not back")
        << "panel"
        << "panel" << QStringList{QStringLiteral("--restart-timeout"), QStringLiteral("1")} << 1
        << open << QByteArray() << 0 << 0 << 60000 << 5
        << QString(kNotBackInBootloaderText).arg(QStringLiteral("1-1")).arg(1) +
               " (--restart-timeout waits longer)\n"
        << true << "" << QString() << true;
    QTest::newRow("board start not echoed")
        << "board"
        << "board" << none << 1 << open << QByteArray("Cc") << 0 << noReply << 0 << 5
        << error + kBootloaderStartError + '\n'
        << true << "" << QString() << true;
    QTest::newRow("panel programming not started")
        << "panel"
        << "panel" << none << 1 << open << QByteArray("Cc") << 0 << noReply << 0 << 5
        << error + kUsbError + '\n'
        << true << "" << QString() << false;
    QTest::newRow("board write fails mid-walk")
        << "board"
        << "board" << none << 1 << open << QByteArray("Mm") << 40 << noReply << 0 << 1
        << error + kProgrammingError + '\n'
        << true << "" << QString() << true;
    QTest::newRow("panel write fails mid-walk")
        << "panel"
        << "panel" << none << 1 << open << QByteArray("Yy") << 500 << int(FaultKind::FailedWrite)
        << 0 << 1 << error + kProgrammingError + '\n'
        << true << "" << QString() << false;
    QTest::newRow("panel read-back fails")
        << "panel"
        << "panel" << none << 1 << open << QByteArray("Rr") << 100 << noReply << 0 << 1
        << error + kVerificationError + '\n'
        << true << "" << QString() << false;
    // The eleventh page of the board's example, 0x500, comes back with byte 5 flipped.
    QTest::newRow("board read-back differs")
        << "board"
        << "board" << none << 1 << open << QByteArray("Nn") << 10 << int(FaultKind::CorruptReadBack)
        << 0 << 1 << error + "\nError: Address 0x00505" << true << "" << QString() << true;
    // Written and verified, but the control board may still run its bootloader.
    QTest::newRow("board boot exit fails")
        << "board"
        << "board" << none << 1 << open << QByteArray("Oo") << 0 << noReply << 0 << 6
        << QString(kBoardExitNotConfirmedText).arg(QStringLiteral("1-1")) + '\n'
        << true << "board" << QString() << true;
    QTest::newRow("panel exit not echoed")
        << "panel"
        << "panel" << none << 1 << open << QByteArray("bB") << 0 << int(FaultKind::WrongEcho) << 0
        << 6 << QString(kExitNotConfirmedText).arg(QStringLiteral("1-1")) + '\n'
        << true << "panel" << QString() << true;
    QTest::newRow("refused file") << "board"
                                  << "damaged" << none << 1 << open << QByteArray() << 0 << 0 << 0
                                  << 3 << "%1: Checksum Error line 100. " << false << ""
                                  << QString() << false;
    QTest::newRow("missing file") << "panel"
                                  << "missing" << none << 1 << open << QByteArray() << 0 << 0 << 0
                                  << 3 << "%1: Error: Can't open hex file\n"
                                  << false << "" << QString() << false;
    QTest::newRow("no end-of-file record")
        << "board"
        << "noeof" << none << 1 << open << QByteArray() << 0 << 0 << 0 << 3
        << "%1: no end-of-file record after 768 lines; the file may have been cut short "
           "(--allow-no-eof to write it anyway)\n"
        << false << "" << QString() << false;
    QTest::newRow("no end-of-file record allowed")
        << "board"
        << "noeof" << QStringList{QStringLiteral("--allow-no-eof")} << 1 << open << QByteArray()
        << 0 << 0 << 0 << 0 << QStringLiteral("warning: %1\n").arg(kNoEndRecordWarning) << true
        << "board" << QString() << false;
    // What was checked is what is written: the file is read once.
    QTest::newRow("board file cut short during the wait")
        << "board"
        << "changing" << none << 1 << open << QByteArray() << 0 << 0 << 0 << 0
        << QString(kBoardUpdatedText) + '\n'
        << true << "board"
        << "cut" << false;
    QTest::newRow("panel file damaged during the wait")
        << "panel"
        << "changing" << none << 1 << open << QByteArray() << 0 << 0 << 0 << 0
        << QString(kPanelUpdatedText) + '\n'
        << true << "panel"
        << "damaged" << false;
    // A name is escaped wherever it is shown: it forges no line and moves no cursor.
    QTest::newRow("name forging a line")
        << "board" << kForgingName << none << 1 << open << QByteArray() << 0 << 0 << 0 << 0
        << QStringLiteral("with %1/%2.hex\n").arg(folder.path(), kForgingShown) << true << "board"
        << QString() << false;
    QTest::newRow("name forging a line, refused")
        << "board" << kForgingName + QStringLiteral("-damaged") << none << 1 << open << QByteArray()
        << 0 << 0 << 0 << 3
        << QStringLiteral("%1/%2-damaged.hex: Checksum Error line 100.")
               .arg(folder.path(), kForgingShown)
        << false << "" << QString() << false;
    // The name reaches open() byte for byte.
    QTest::newRow("name not UTF-8")
        << "board" << kNotUtf8Name << none << 1 << open << QByteArray() << 0 << 0 << 0 << 0
        << QStringLiteral("with %1/board-\\xe5\\xff.hex\n").arg(folder.path()) << true << "board"
        << QString() << false;
    // The bootloader lost the page command's echo and still waits for the page's data: it takes
    // the exit command for it and stays.
    QTest::newRow("panel page echo lost")
        << "panel"
        << "panel" << QStringList{QStringLiteral("--leave-timeout"), QStringLiteral("1")} << 1
        << open << QByteArray("Yy") << 5 << noReply << 0 << 1
        << error + kProgrammingError + '\n' +
               QString(kPanelStayedInBootloaderText).arg(QStringLiteral("1-1")).arg(1) +
               "; run the update again with --in-bootloader\n"
        << true << "" << QString() << true;
    QTest::newRow("name with an overlong sequence, missing")
        << "board" << kOverlongName << none << 1 << open << QByteArray() << 0 << 0 << 0 << 3
        << QStringLiteral("%1/fw\\xe0\\x80\\xaf.hex: Error: Can't open hex file\n")
               .arg(folder.path())
        << false << "" << QString() << false;
    // Written before, the example is refused when another image is asked for.
    QTest::newRow("another image asked for")
        << "board"
        << "board" << QStringList{QStringLiteral("--sha256"), QString(64, QLatin1Char('0'))} << 1
        << open << QByteArray() << 0 << 0 << 0 << 3 << "%1: its image has SHA-256 " << false << ""
        << QString() << false;
}

void UpdateCommandTest::exitCodes()
{
    QFETCH(QString, target);
    QFETCH(QString, fileKey);
    QFETCH(QStringList, options);
    QFETCH(int, devices);
    QFETCH(int, access);
    QFETCH(QByteArray, faultCommand);
    QFETCH(int, occurrence);
    QFETCH(int, fault);
    QFETCH(int, restartMs);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(bool, sends);
    QFETCH(QString, image);
    QFETCH(QString, changedTo);
    QFETCH(bool, unfinished);

    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(devices);
    if (devices > 0)
        simulated.setPanelAccess(PanelAccess(access));
    simulated.setRestartTime(std::chrono::milliseconds(restartMs));
    if (!faultCommand.isEmpty())
        simulated.injectFault(FaultTrigger::onCommand(faultCommand[0], faultCommand[1], occurrence),
                              {FaultKind(fault), 5, 0x01});

    const QString path = file(fileKey);
    CliSetup setup;
    if (!changedTo.isEmpty()) {
        QVERIFY(writeFile(path, readFile(file(target))));
        // Cut to its first 300 lines, or replaced by a file the loader refuses.
        setup.pause = [&](int) {
            if (changedTo == QLatin1String("cut"))
                QFile::resize(path, 300 * 45);
            else
                writeFile(path, readFile(file(changedTo)));
        };
    }
    QByteArrayList arguments{"update", "--target", target.toUtf8(), fileBytes(fileKey)};
    for (const QString &option : options)
        arguments << option.toUtf8();
    const CliRun run = runCli(arguments, setup);
    QCOMPARE(run.code, code);
    QVERIFY2(run.err.contains(QString(message).replace(QStringLiteral("%1"), path)),
             qPrintable(run.err));
    QCOMPARE(simulated.reportCount() > 0, sends);
    QVERIFY2(run.out.endsWith(QStringLiteral("exit code: %1\n").arg(code)), qPrintable(run.out));
    // One result, on lines of its own, with nothing a terminal would obey, and a result text
    // without empty parts.
    QCOMPARE(run.out.count(QRegularExpression(QStringLiteral("^exit code:"),
                                              QRegularExpression::MultilineOption)),
             1);
    QVERIFY(!run.out.contains(QLatin1Char('\x1b')) && !run.err.contains(QLatin1Char('\x1b')));
    const QRegularExpressionMatch result =
        QRegularExpression(QStringLiteral("^result: (.*)$"), QRegularExpression::MultilineOption)
            .match(run.out);
    QVERIFY(result.hasMatch());
    for (const QString &part : result.captured(1).split(QStringLiteral(" / ")))
        QVERIFY2(!part.trimmed().isEmpty(), qPrintable(result.captured(0)));
    // One result line, however many lines the failure's text has: a script reads a field a line.
    QVERIFY2(
        run.out.count(QStringLiteral("result: ")) == 1 &&
            run.out.contains(QRegularExpression(QStringLiteral("\nresult: [^\n]+\nexit code: "))),
        qPrintable(run.out));
    if (image == QLatin1String("panel"))
        QVERIFY(panelFlash() == panelImage);
    if (image == QLatin1String("board"))
        QVERIFY(boardFlash() == boardImage);
    // The board's wait runs its whole course, but only through the host's pauses; the
    // ControlPanel is followed instead, and has no fixed wait.
    if (code == 0)
        QCOMPARE(run.pauses.count(300), target == QLatin1String("panel") ? 0 : 10);
    bool held = true;
    const std::optional<UnitMark> mark = UnitLock::read(QStringLiteral("1-1"), held);
    QCOMPARE(mark && mark->unfinishedPastEntry(), unfinished);
}

void UpdateCommandTest::lockRefusals_data()
{
    QTest::addColumn<QString>("verb");
    // What stands at the lock path of port 1-1: "fifo", "folder", "symlink", "held" (by a
    // program whose name holds placeholders), "held, no mark", "unfinished" (a mark of a live
    // process that holds no lock).
    QTest::addColumn<QString>("standing");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message"); // update, probe: standard error; list: the update field

    const QString unusable =
        QStringLiteral("The lock file %1 cannot be used: %2. Remove it, then try again");
    const QString held = QStringLiteral("The ControlPanel at USB port 1-1 is being updated by "
                                        "evil%2%3 (process %1)")
                             .arg(QCoreApplication::applicationPid());

    QTest::newRow("update: a named pipe") << "update"
                                          << "fifo" << 4 << unusable.arg("%1", kLockIsFifo);
    QTest::newRow("update: a folder") << "update"
                                      << "folder" << 4 << unusable.arg("%1", kLockIsFolder);
    QTest::newRow("update: a symbolic link")
        << "update"
        << "symlink" << 4 << unusable.arg("%1", kLockIsSymbolicLink);
    QTest::newRow("update: held, a name with placeholders") << "update"
                                                            << "held" << 4 << held;
    QTest::newRow("probe: a named pipe") << "probe"
                                         << "fifo" << 4 << unusable.arg("%1", kLockIsFifo);
    QTest::newRow("list: a named pipe")
        << "list"
        << "fifo" << 0 << "  update: " + unusable.arg("%1", kLockIsFifo);
    QTest::newRow("list: held, a name with placeholders")
        << "list"
        << "held" << 0
        << QStringLiteral("  update: being updated by evil%2%3 (process %1), started ")
               .arg(QCoreApplication::applicationPid());
    QTest::newRow("list: held, no mark")
        << "list"
        << "held, no mark" << 0 << "  update: being updated by another program";
    // Its process runs, but holds no lock: nothing is being updated.
    QTest::newRow("list: an unfinished mark, not held")
        << "list"
        << "unfinished" << 0 << "  update: the last update of the ControlPanel here, started ";
}

// What stands at the unit's lock path, or holds its lock, as update, probe and list tell it: a
// lock that cannot be used refuses an update before anything is sent, and never hangs it.
void UpdateCommandTest::lockRefusals()
{
    QFETCH(QString, verb);
    QFETCH(QString, standing);
    QFETCH(int, code);
    QFETCH(QString, message);

    SimulatedDevices::instance().setDeviceCount(1);
    const QString path = UnitLock::pathFor(QStringLiteral("1-1"));
    QVERIFY(!path.isEmpty());
    QVERIFY(clearLockPath(QStringLiteral("1-1")));
    message.replace(QStringLiteral("%1"), path);
    const QByteArray name = QFile::encodeName(path);
    UnitLock other;
    int rawHolder = -1;
    if (standing == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(name.constData(), 0666), 0);
    if (standing == QLatin1String("folder"))
        QVERIFY(QDir().mkdir(path));
    if (standing == QLatin1String("symlink"))
        QVERIFY(QFile::link(file(QStringLiteral("board")), path));
    if (standing == QLatin1String("held"))
        QCOMPARE(
            other.take(QStringLiteral("1-1"), QStringLiteral("evil%2%3"), QStringLiteral("board")),
            UnitLock::Outcome::Taken);
    if (standing == QLatin1String("held, no mark")) {
        rawHolder = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        QCOMPARE(::flock(rawHolder, LOCK_EX | LOCK_NB), 0);
    }
    if (standing == QLatin1String("unfinished")) {
        QCOMPARE(other.take(QStringLiteral("1-1"), QStringLiteral("zelupdate-cli"),
                            QStringLiteral("board")),
                 UnitLock::Outcome::Taken);
        other.note(QStringLiteral("writing"));
        other.releaseUnfinished();
    }

    QStringList arguments{verb};
    if (verb == QLatin1String("update"))
        arguments << "--target"
                  << "board" << file(QStringLiteral("board"));
    // A lock file that blocks an open ends the test instead of hanging it.
    ::alarm(60);
    const CliRun run = runCli(arguments);
    ::alarm(0);
    other.release();
    if (rawHolder >= 0)
        ::close(rawHolder);
    QVERIFY(clearLockPath(QStringLiteral("1-1")));

    QCOMPARE(run.code, code);
    if (verb == QLatin1String("list")) {
        const QStringList fields =
            run.out.split(QLatin1Char('\n')).filter(QStringLiteral("  update: "));
        QCOMPARE(fields.size(), 1);
        QVERIFY2(fields.first().startsWith(message), qPrintable(fields.first()));
        QVERIFY(!fields.first().contains(QStringLiteral("being updated")) ||
                standing.startsWith(QLatin1String("held")));
        return;
    }
    QVERIFY2(run.err.contains(message + QLatin1Char('\n')), qPrintable(run.err));
    QCOMPARE(SimulatedDevices::instance().reportCount(), 0);
    if (verb == QLatin1String("update"))
        QVERIFY(boardFlash() == QByteArray(int(sim::kBoardFlashSize), '\xff'));
}

QTEST_GUILESS_MAIN(UpdateCommandTest)
#include "tst_updatecommand.moc"
