// zelupdate-cli's commands run in this process against the simulated devices, with instant
// restarts and no latency; the waits are recorded, not slept. Every case checks the exit status
// and the exact texts a script or a technician would read.

#include "CliRun.h"
#include "CliTexts.h"
#include "ExitCodes.h"
#include "HexFileCheck.h"
#include "ProbeTexts.h"
#include "SimulatedDevices.h"
#include "TerminalHost.h"
#include "TextProgress.h"
#include "UnitLock.h"
#include "UnitWorker.h"
#include "UnitsSummary.h"
#include "UpdateEach.h"
#include "UpdateHistory.h"
#include "UpdateTexts.h"

#include <QCryptographicHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <optional>

using sim::FaultKind;
using sim::FaultTrigger;
using sim::PanelAccess;
using sim::RestartQuirk;
using sim::SimulatedDevices;

namespace {

const QString kExamples = QStringLiteral(ZELUPDATE_EXAMPLES_DIR);
// A file name that would forge a result line and move the cursor up over the real one.
const QString kForgingName = QStringLiteral("forged\nexit code: 0\n\x1b[1A");
const QString kForgingShown = QStringLiteral("forged\\nexit code: 0\\n\\x1b[1A");
// Latin-1's "å" and a byte no UTF-8 holds.
const QString kNotUtf8Name = QStringLiteral("not utf-8");
const QByteArray kNotUtf8Bytes("board-\xe5\xff.hex");
// '/' written in three bytes: a decoder that took it would show a slash that is not one.
const QString kOverlongName = QStringLiteral("overlong");
const QByteArray kOverlongBytes("fw\xe0\x80\xaf.hex");

QByteArray panelFlash()
{
    return QByteArray(
        reinterpret_cast<const char *>(SimulatedDevices::instance().panelFlash().data()),
        int(sim::kPanelFlashSize));
}

QByteArray boardFlash()
{
    return QByteArray(
        reinterpret_cast<const char *>(SimulatedDevices::instance().boardFlash().data()),
        int(sim::kBoardFlashSize));
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size() && file.flush();
}

// A file whose name need not be UTF-8, made without any decoding of the name.
bool writeFileNamed(const QByteArray &path, const QByteArray &content)
{
    std::FILE *file = std::fopen(path.constData(), "wb");
    if (!file)
        return false;
    const bool written =
        std::fwrite(content.constData(), 1, size_t(content.size()), file) == size_t(content.size());
    return std::fclose(file) == 0 && written;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The lines of a JSON Lines stream, each parsed; a line that is not an object fails the test.
QList<QJsonObject> jsonLines(const QString &stream, bool &allParse)
{
    QList<QJsonObject> objects;
    allParse = stream.endsWith(QLatin1Char('\n'));
    for (const QString &line : stream.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(line.toUtf8(), &error);
        allParse = allParse && error.error == QJsonParseError::NoError && document.isObject();
        objects << document.object();
    }
    return objects;
}

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

class CliTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void exitCodes_data();
    void exitCodes();
    void usageErrors_data();
    void usageErrors();
    void helpAndVersion();
    void progressLog_data();
    void progressLog();
    void jsonStream_data();
    void jsonStream();
    void list_data();
    void list();
    void checkExamples_data();
    void checkExamples();
    void checkVerdicts_data();
    void checkVerdicts();
    void waitForPanel_data();
    void waitForPanel();
    void history();
    void historyReadErrors_data();
    void historyReadErrors();
    void historyNotWritten_data();
    void historyNotWritten();
    void historyEscaped();
    void historyAfterCutLine();
    void probe_data();
    void probe();
    void historyEarlierLines();
    void allUnitsExitCode_data();
    void allUnitsExitCode();
    void portOrder_data();
    void portOrder();
    void allWithoutUnits();
    void workerEnds_data();
    void workerEnds();
    void allUnitsProcesses();
    void allUnitsSignalled_data();
    void allUnitsSignalled();
    void allUnitsHandOn();
    void allUnitsWithoutPorts();
    void eachUnit();
    void eachUnitTurns_data();
    void eachUnitTurns();
    void lockRefusals_data();
    void lockRefusals();
    void noLockFolderSaidOnce();

private:
    QString file(const QString &key) const;
    QByteArray fileBytes(const QString &key) const;

    QTemporaryDir folder;
    QByteArray panelImage;
    QByteArray boardImage;
};

void CliTest::initTestCase()
{
    QVERIFY(folder.isValid());
    // The sequence adds to the history; never to the user's own. Its locks are this test's.
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    qputenv("ZELUPDATE_LOCK_DIR", folder.filePath(QStringLiteral("locks")).toUtf8());

    panelImage = objcopyImage(file(QStringLiteral("panel")), int(sim::kPanelFlashSize));
    boardImage = objcopyImage(file(QStringLiteral("board")), int(sim::kBoardFlashSize));
    QVERIFY2(!panelImage.isEmpty() && !boardImage.isEmpty(),
             "objcopy (binutils) makes the images the flash is compared with");

    // The example's lines end in CR LF; the copies made here in LF, which the loader takes too.
    QList<QByteArray> lines =
        readFile(file(QStringLiteral("board"))).replace("\r\n", "\n").split('\n');
    QCOMPARE(lines.takeLast(), QByteArray()); // the file ends with a line feed
    QCOMPARE(lines.size(), 769);
    QCOMPARE(lines.last(), QByteArray(":00000001FF"));
    // A checksum off by one in line 100.
    QList<QByteArray> damaged = lines;
    QByteArray &line = damaged[99];
    line.chop(2);
    line += QByteArray::number((lines[99].right(2).toInt(nullptr, 16) + 1) & 0xFF, 16)
                .rightJustified(2, '0')
                .toUpper();
    QVERIFY(writeFile(file(QStringLiteral("damaged")), damaged.join('\n') + '\n'));
    lines.removeLast();
    QVERIFY(writeFile(file(QStringLiteral("noeof")), lines.join('\n') + '\n'));

    // Names a terminal would obey, and one that is not UTF-8.
    const QByteArray board = readFile(file(QStringLiteral("board")));
    QVERIFY(writeFile(file(kForgingName), board));
    QVERIFY(writeFile(file(kForgingName + QStringLiteral("-damaged")), damaged.join('\n') + '\n'));
    QVERIFY(writeFileNamed(fileBytes(kNotUtf8Name), board));
}

void CliTest::init()
{
    SimulatedDevices::instance().reset();
    // What one case's update leaves in a unit's lock must not tell the next of its unit.
    QDir locks(folder.filePath(QStringLiteral("locks")));
    for (const QString &name : locks.entryList(QDir::Files))
        QVERIFY(locks.remove(name));
}

void CliTest::cleanup()
{
    // A command has closed every device it opened by the time it returns.
    QCOMPARE(SimulatedDevices::instance().openHandles(), 0);
}

QString CliTest::file(const QString &key) const
{
    if (key == QLatin1String("panel"))
        return kExamples + QStringLiteral("/controlpanel-example.hex");
    if (key == QLatin1String("board"))
        return kExamples + QStringLiteral("/controlboard-example.hex");
    return folder.filePath(key + QStringLiteral(".hex"));
}

void CliTest::cleanupTestCase()
{
    // QTemporaryDir removes by decoded names, which cannot reach a name that is not UTF-8.
    ::unlink(fileBytes(kNotUtf8Name).constData());
}

// The file's name byte for byte, as argv would hold it.
QByteArray CliTest::fileBytes(const QString &key) const
{
    if (key == kNotUtf8Name)
        return QFile::encodeName(folder.path()) + '/' + kNotUtf8Bytes;
    if (key == kOverlongName)
        return QFile::encodeName(folder.path()) + '/' + kOverlongBytes;
    return QFile::encodeName(file(key));
}

void CliTest::exitCodes_data()
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

void CliTest::exitCodes()
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

void CliTest::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    const QString hex = kExamples + QStringLiteral("/controlboard-example.hex");
    QTest::newRow("no command") << QStringList() << "no command given";
    QTest::newRow("unknown command") << QStringList{"flash"} << "unknown command 'flash'";
    QTest::newRow("unknown option") << QStringList{"list", "--force"} << "Unknown option 'force'";
    QTest::newRow("no target") << QStringList{"update", hex} << "update needs --target";
    QTest::newRow("unknown target")
        << QStringList{"check", "--target", "pump", hex} << "unknown target 'pump'";
    QTest::newRow("no file") << QStringList{"update", "--target", "board"}
                             << "update needs exactly one HEX file";
    QTest::newRow("two files") << QStringList{"check", "--target", "board", hex, hex}
                               << "check needs exactly one HEX file";
    QTest::newRow("wait for check")
        << QStringList{"check", "--target", "board", "--wait", "3", hex} << "check takes no --wait";
    QTest::newRow("wait not a number")
        << QStringList{"update", "--target", "board", "--wait", "soon", hex}
        << "--wait needs a number of seconds, not 'soon'";
    QTest::newRow("target for list")
        << QStringList{"list", "--target", "panel"} << "list takes no --target";
    QTest::newRow("file for history") << QStringList{"history", hex} << "history takes no file";
    // The last would win: the board's file written into the ControlPanel.
    QTest::newRow("target twice") << QStringList{"update",   "--target", "board",
                                                 "--target", "panel",    hex}
                                  << "--target is given more than once";
    QTest::newRow("target twice, once with =")
        << QStringList{"check", "--target=board", hex, "--target", "board"}
        << "--target is given more than once";
    QTest::newRow("flag twice") << QStringList{"list", "--json", "--json"}
                                << "--json is given more than once";
    QTest::newRow("port and serial")
        << QStringList{"update", "--target", "board", "--serial", "CP1000", "--port", "1-1", hex}
        << "--port and --serial choose the same unit: give one";
    QTest::newRow("yes without restart")
        << QStringList{"probe", "--yes"}
        << "--yes answers the question of --restart: give both or neither";
    QTest::newRow("all with port")
        << QStringList{"update", "--target", "panel", "--all", "--port", "1-1", hex}
        << "--all updates every attached unit: not with --port";
    QTest::newRow("all and each") << QStringList{"update", "--target", "panel",
                                                 "--each", "--all",    hex}
                                  << "--all and --each: give one";
    QTest::newRow("restart timeout not a number")
        << QStringList{"update", "--target", "panel", "--restart-timeout", "0", hex}
        << "--restart-timeout needs a number of seconds from 1 to 3600, not '0'";
    // Counted in milliseconds, these would wrap to -1 s and to 0 s.
    QTest::newRow("restart timeout past an int")
        << QStringList{"update", "--target", "panel", "--restart-timeout", "2147483647", hex}
        << "--restart-timeout needs a number of seconds from 1 to 3600, not '2147483647'";
    QTest::newRow("restart timeout past an int in milliseconds")
        << QStringList{"probe", "--restart-timeout", "4294968"}
        << "--restart-timeout needs a number of seconds from 1 to 3600, not '4294968'";
    QTest::newRow("leave timeout too long")
        << QStringList{"update", "--target", "panel", "--leave-timeout", "3601", hex}
        << "--leave-timeout needs a number of seconds from 1 to 3600, not '3601'";
    // An empty choice would take whichever unit is attached.
    QTest::newRow("empty port") << QStringList{"update", "--target", "board", "--port", "", hex}
                                << "--port needs a USB port";
    QTest::newRow("empty serial") << QStringList{"list", "--serial", ""}
                                  << "--serial needs a serial number";
    QTest::newRow("each with serial")
        << QStringList{"update", "--target", "panel", "--each", "--serial", "CP1000", hex}
        << "--each takes no --serial, --wait or --in-bootloader";
    QTest::newRow("all in bootloader")
        << QStringList{"update", "--target", "panel", "--all", "--in-bootloader", hex}
        << "--all takes no --wait or --in-bootloader";
    QTest::newRow("sha256 not 64 digits")
        << QStringList{"check", "--target", "board", "--sha256", "e12cb916", hex}
        << "--sha256 needs the 64 hexadecimal digits check shows, not 'e12cb916'";
}

void CliTest::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const CliRun run = runCli(arguments);
    QCOMPARE(run.code, 2);
    QVERIFY2(run.err.startsWith(QStringLiteral("zelupdate-cli: ") + message), qPrintable(run.err));
    QVERIFY(run.err.endsWith(QStringLiteral("\nTry 'zelupdate-cli --help'.\n")));
    QCOMPARE(run.out, QString());
    QCOMPARE(SimulatedDevices::instance().openCount(), 0);
}

void CliTest::helpAndVersion()
{
    const CliRun help = runCli({QStringLiteral("--help")});
    QCOMPARE(help.code, 0);
    QVERIFY(help.out.startsWith(QStringLiteral("Usage: zelupdate-cli list")));
    // The exit codes close the help, each with its number.
    const QString codes = help.out.mid(help.out.indexOf(QStringLiteral("\nExit codes:\n")));
    QVERIFY(!codes.isEmpty());
    for (int code = 0; code <= 5; ++code)
        QVERIFY2(codes.contains(QStringLiteral("\n  %1  ").arg(code)), qPrintable(codes));

    const CliRun version = runCli({QStringLiteral("--version")});
    QCOMPARE(version.code, 0);
    QVERIFY(QRegularExpression(QStringLiteral("^zelupdate-cli \\d+\\.\\d+\\.\\d+\n$"))
                .match(version.out)
                .hasMatch());
}

void CliTest::progressLog_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<int>("columns");      // the terminal's width; 0: unknown
    QTest::addColumn<QString>("expected"); // %1 is the file

    QTest::newRow("board log") << "board" << false << 0
                               << "Updating the ZEL02 control board with %1\n"
                                  "Connecting to the ControlPanel\n"
                                  "ControlPanel at USB port 1-1, serial number CP1000\n"
                                  "Entering the bootloader\n"
                                  "Waiting for the bootloader\n"
                                  "Writing: 96 pages\n"
                                  "Verifying: 96 pages\n"
                                  "Leaving the bootloader\n"
                                  "The ZEL02 firmware has been updated\n";
    QTest::newRow("panel log") << "panel" << false << 0
                               << "Updating the ControlPanel with %1\n"
                                  "Connecting to the ControlPanel\n"
                                  "ControlPanel at USB port 1-1, serial number CP1000\n"
                                  "Entering the bootloader\n"
                                  "Waiting for the ControlPanel to restart at USB port 1-1\n"
                                  "Waiting for the ControlPanel to come back at USB port 1-1\n"
                                  "Writing: 1604 pages\n"
                                  "Verifying: 1604 pages\n"
                                  "Leaving the bootloader\n"
                                  "Waiting for the ControlPanel to restart at USB port 1-1\n"
                                  "Waiting for the ControlPanel to come back at USB port 1-1\n"
                                  "Checking the ControlPanel's application at USB port 1-1\n"
                                  "The ControlPanel firmware has been updated\n";
    // Each line redrawn after "\r\x1b[K"; the time left only appears once a unit is done and
    // depends on the clock, so the lines are compared as they stand at their end.
    QTest::newRow("board terminal") << "board" << true << 0
                                    << "Entering the bootloader\n"
                                       "Waiting for the bootloader: 100%\n"
                                       "Writing: 96/96 pages, 100%\n"
                                       "Verifying: 96/96 pages, 100%\n"
                                       "Leaving the bootloader\n"
                                       "The ZEL02 firmware has been updated\n";
    QTest::newRow("panel terminal") << "panel" << true << 0
                                    << "Entering the bootloader\n"
                                       "Waiting for the ControlPanel to restart at USB port 1-1\n"
                                       "Waiting for the ControlPanel to come back at USB port 1-1\n"
                                       "Writing: 1604/1604 pages, 100%\n"
                                       "Verifying: 1604/1604 pages, 100%\n"
                                       "Leaving the bootloader\n"
                                       "Waiting for the ControlPanel to restart at USB port 1-1\n"
                                       "Waiting for the ControlPanel to come back at USB port 1-1\n"
                                       "Checking the ControlPanel's application at USB port 1-1\n"
                                       "The ControlPanel firmware has been updated\n";
    // Every redraw fits within the width, short of its last column; the messages are not
    // progress and wrap as the terminal wraps them.
    QTest::newRow("board terminal, 20 columns") << "board" << true << 20
                                                << "Entering the bootlo\n"
                                                   "Waiting for the boo\n"
                                                   "Writing: 96/96 page\n"
                                                   "Verifying: 96/96 pa\n"
                                                   "Leaving the bootloa\n"
                                                   "The ZEL02 firmware has been updated\n";
}

void CliTest::progressLog()
{
    QFETCH(QString, target);
    QFETCH(bool, terminal);
    QFETCH(int, columns);
    QFETCH(QString, expected);

    CliSetup setup;
    setup.errIsTerminal = terminal;
    setup.errColumns = columns;
    const QString path = file(target);
    const CliRun run =
        runCli({QStringLiteral("update"), QStringLiteral("--target"), target, path}, setup);
    QCOMPARE(run.code, 0);
    if (!terminal) {
        QVERIFY(!run.err.contains(QLatin1Char('\r')));
        QCOMPARE(run.err, expected.arg(path));
        return;
    }
    // What the terminal shows: each line as its last redraw left it.
    QStringList shown;
    for (const QString &line : run.err.split(QLatin1Char('\n'))) {
        const QStringList redraws = line.split(QStringLiteral("\r\x1b[K"));
        shown << redraws.last();
        for (const QString &redraw : redraws.mid(1))
            QVERIFY2(columns == 0 || redraw.size() < columns, qPrintable(redraw));
    }
    QVERIFY2(shown.join(QLatin1Char('\n')).endsWith(expected), qPrintable(shown.join('\n')));
    if (columns > 0)
        return;
    // Pages were counted up on the way, with the time left.
    QVERIFY(run.err.contains(QStringLiteral("\r\x1b[KWriting: 1/")));
    QVERIFY(run.err.contains(QStringLiteral(" s left")));
}

void CliTest::jsonStream_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("faultCommand");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QStringList>("phases");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result");

    const QStringList board{"connecting", "entering", "waiting", "writing", "verifying", "leaving"};
    const QStringList panel{"connecting", "entering", "departing", "returning", "writing",
                            "verifying",  "leaving",  "departing", "returning", "confirming"};
    QTest::newRow("panel") << "panel" << QByteArray() << 0 << panel << 0
                           << QString(kPanelUpdatedText);
    QTest::newRow("board") << "board" << QByteArray() << 0 << board << 0
                           << QString(kBoardUpdatedText);
    // The control board stays in its bootloader, and only --in-bootloader reaches it there.
    QTest::newRow("board write fails")
        << "board" << QByteArray("Mm") << 40 << QStringList(board.mid(0, 4)) << 1
        << QString(kErrorPrefix) + kProgrammingError + '\n' + kBoardLeftInBootloaderText +
               ": run the update again with --in-bootloader";
    // The ControlPanel leaves its bootloader after a failed walk too.
    QTest::newRow("panel verify fails") << "panel" << QByteArray("Rr") << 100 << panel << 1
                                        << QString(kErrorPrefix) + kVerificationError;
}

void CliTest::jsonStream()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, faultCommand);
    QFETCH(int, occurrence);
    QFETCH(QStringList, phases);
    QFETCH(int, exitCode);
    QFETCH(QString, result);

    if (!faultCommand.isEmpty())
        SimulatedDevices::instance().injectFault(
            FaultTrigger::onCommand(faultCommand[0], faultCommand[1], occurrence),
            {FaultKind::NoReply});
    const QString path = file(target);
    const CliRun run = runCli({QStringLiteral("update"), QStringLiteral("--target"), target, path,
                               QStringLiteral("--json")});
    QCOMPARE(run.code, exitCode);
    bool allParse = false;
    const QList<QJsonObject> lines = jsonLines(run.out, allParse);
    QVERIFY2(allParse, qPrintable(run.out));
    QVERIFY(lines.size() > 2);
    // The progress is in the JSON, not on standard error.
    QVERIFY(!run.err.contains(QStringLiteral("Writing")));

    QStringList seen;
    QString phase;
    int total = 0;
    int lastPercent = 0;
    int lastDone = 0;
    for (const QJsonObject &line : lines.mid(0, lines.size() - 1)) {
        const QString event = line.value(QStringLiteral("event")).toString();
        if (event == QLatin1String("phase")) {
            phase = line.value(QStringLiteral("phase")).toString();
            total = line.value(QStringLiteral("total")).toInt(-1);
            QVERIFY(total >= 0);
            seen << phase;
            lastPercent = 0;
            lastDone = 0;
            continue;
        }
        // The unit chosen, the entry and warnings are the schema test's.
        if (event != QLatin1String("progress"))
            continue;
        QCOMPARE(line.value(QStringLiteral("phase")).toString(), phase);
        QCOMPARE(line.value(QStringLiteral("total")).toInt(), total);
        const int done = line.value(QStringLiteral("done")).toInt();
        const int percent = line.value(QStringLiteral("percent")).toInt();
        QVERIFY(done > lastDone && done <= total);
        QVERIFY(percent > lastPercent && percent <= 100);
        QCOMPARE(percent, done * 100 / total);
        lastDone = done;
        lastPercent = percent;
    }
    QCOMPARE(seen, phases);

    const QJsonObject end = lines.last();
    QCOMPARE(end.value(QStringLiteral("event")).toString(), QStringLiteral("result"));
    QCOMPARE(end.value(QStringLiteral("target")).toString(), target);
    QCOMPARE(end.value(QStringLiteral("file")).toString(), path);
    QCOMPARE(end.value(QStringLiteral("result")).toString(), result);
    QCOMPARE(end.value(QStringLiteral("exitCode")).toInt(-1), exitCode);
    QVERIFY(end.value(QStringLiteral("seconds")).toDouble(-1) >= 0);
    const QByteArray image = target == QLatin1String("panel") ? panelImage : boardImage;
    const int covered = target == QLatin1String("panel") ? 262144 : 32256;
    QCOMPARE(
        end.value(QStringLiteral("sha256")).toString(),
        QString::fromLatin1(
            QCryptographicHash::hash(image.left(covered), QCryptographicHash::Sha256).toHex()));
    QCOMPARE(end.value(QStringLiteral("usedPages")).toInt(),
             target == QLatin1String("panel") ? 1604 : 96);
}

// Who the session is, for the advice when the rule keeps a user out.
enum class Session
{
    AtSeat,
    BeyondSeat,        // SSH, a service: only the group can let it in
    JoinedNotLoggedIn, // listed in the group since this session began
    InGroup,
};

Q_DECLARE_METATYPE(Session)

namespace {

AccessSession accessSession(Session session)
{
    AccessSession facts;
    facts.atSeat = session == Session::AtSeat;
    facts.inGroup = session == Session::InGroup;
    facts.groupListed = session == Session::JoinedNotLoggedIn || session == Session::InGroup;
    facts.user = QStringLiteral("tech");
    return facts;
}

} // namespace

void CliTest::list_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("access");
    QTest::addColumn<bool>("ruleInstalled");
    QTest::addColumn<bool>("root");
    QTest::addColumn<Session>("session");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("inForce");
    QTest::addColumn<QStringList>("errLines"); // standard error holds each, in order

    const int open = int(PanelAccess::Open);
    const int denied = int(PanelAccess::NoPermission);
    const Session seat = Session::AtSeat;
    const Session away = Session::BeyondSeat;
    const QString unit = QStringLiteral("1-1 (%1, ZEL ControlPanel), serial number CP1000")
                             .arg(QString::fromStdString(SimulatedDevices::panelPath(0)));
    const QStringList ruleAdvice{
        "The udev rule 70-zelupdate-controlpanel.rules is not installed or not loaded. Install the "
        "zelupdate package, or copy the rule into /etc/udev/rules.d, then run:",
        "  sudo udevadm control --reload", "  sudo udevadm trigger --subsystem-match=hidraw",
        "and plug the ControlPanel in again."};
    const QStringList joinAdvice{
        "The udev rule opens the ControlPanel to the user at this computer's seat and to the "
        "plugdev group, and this session is not at the seat (an SSH session, a service, or no "
        "local seat). Add tech to the group:",
        "  sudo usermod -aG plugdev tech", "then log in again (a service: restart it)."};
    const QStringList noPermission =
        QStringList{unit + QStringLiteral(": this user may not open it.")} + ruleAdvice;
    const QString neither =
        "no: the rule is installed, but this session is neither at the seat nor in the plugdev "
        "group";

    QTest::newRow("usable, rule installed")
        << 1 << open << true << false << seat << 0 << "yes: the ControlPanel opens for this user"
        << QStringList();
    QTest::newRow("usable without the rule")
        << 1 << open << false << false << seat << 0
        << "yes: the ControlPanel opens for this user, though not through the rule"
        << QStringList();
    QTest::newRow("usable as root") << 1 << open << true << true << seat << 0
                                    << "unknown: running as root, which opens the ControlPanel "
                                       "with or without the rule"
                                    << QStringList();
    QTest::newRow("no permission, no rule") << 1 << denied << false << false << seat << 4
                                            << "no: the rule is not installed" << noPermission;
    QTest::newRow("no permission, rule not applied")
        << 1 << denied << true << false << seat << 4
        << "no: the rule is installed but not applied to the attached ControlPanel" << noPermission;
    // Beyond the seat the rule's uaccess cannot apply: only its group can let the user in.
    QTest::newRow("beyond the seat: join the group")
        << 1 << denied << true << false << away << 4 << neither
        << QStringList{unit + QStringLiteral(": this user may not open it.")} + joinAdvice;
    QTest::newRow("beyond the seat, no rule: rule, then group")
        << 1 << denied << false << false << away << 4 << "no: the rule is not installed"
        << noPermission + joinAdvice;
    QTest::newRow("beyond the seat, joined: log in again")
        << 1 << denied << true << false << Session::JoinedNotLoggedIn << 4 << neither
        << QStringList{unit + QStringLiteral(": this user may not open it."),
                       "tech is in the plugdev group, which the udev rule opens the ControlPanel "
                       "to, but this session began before tech joined it: log in again (a "
                       "service: restart it)."};
    QTest::newRow("beyond the seat, in the group: rule not applied")
        << 1 << denied << true << false << Session::InGroup << 4
        << "no: the rule is installed but not applied to the attached ControlPanel" << noPermission;
    QTest::newRow("busy") << 1 << int(PanelAccess::Busy) << true << false << seat << 4
                          << "unknown: the ControlPanel would not open for another reason"
                          << QStringList{unit + QStringLiteral(": another program holds it."),
                                         kBusyAdvice};
    QTest::newRow("none") << 0 << open << true << false << seat << 4
                          << "unknown: no ControlPanel is attached to try"
                          << QStringList{kNoPanelText, kNoPanelAdvice};
    QTest::newRow("two usable") << 2 << open << true << false << seat << 0
                                << "yes: the ControlPanel opens for this user"
                                << QStringList{QStringLiteral("warning: %1: an update takes one "
                                                              "only when --port or --serial "
                                                              "names it")
                                                   .arg(kSeveralPanelsText)};
}

void CliTest::list()
{
    QFETCH(int, devices);
    QFETCH(int, access);
    QFETCH(bool, ruleInstalled);
    QFETCH(bool, root);
    QFETCH(Session, session);
    QFETCH(int, code);
    QFETCH(QString, inForce);
    QFETCH(QStringList, errLines);

    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(devices);
    if (devices > 0)
        simulated.setPanelAccess(PanelAccess(access));
    QTemporaryDir rules;
    const QString missing = rules.filePath(QStringLiteral("missing"));
    const QString rule = rules.filePath(QStringLiteral("70-zelupdate-controlpanel.rules"));
    if (ruleInstalled)
        QVERIFY(writeFile(rule, "SUBSYSTEM==\"hidraw\"\n"));
    CliSetup setup;
    setup.udevRuleFolders = QStringList{missing, rules.path()};
    setup.runningAsRoot = root;
    setup.accessSession = accessSession(session);

    const CliRun run = runCli({QStringLiteral("list")}, setup);
    QCOMPARE(run.code, code);
    QStringList expected;
    const char *accessNames[] = {"usable", "no permission", "busy"};
    for (int device = 0; device < devices; ++device) {
        expected << QStringLiteral("1-%1").arg(device + 1)
                 << QStringLiteral("  hidraw node: %1")
                        .arg(QString::fromStdString(SimulatedDevices::panelPath(device)))
                 << QStringLiteral("  serial number: CP%1").arg(1000 + device)
                 << "  manufacturer: ZEL"
                 << "  product: ControlPanel"
                 << QStringLiteral("  access: %1").arg(accessNames[device == 0 ? access : 0]);
    }
    if (devices == 0)
        expected << "no ControlPanel attached";
    expected << (ruleInstalled ? QStringLiteral("udev rule: ") + rule
                               : QStringLiteral("udev rule: 70-zelupdate-controlpanel.rules is not "
                                                "installed in %1, %2")
                                     .arg(missing, rules.path()))
             << QStringLiteral("udev rule in force: ") + inForce;
    QCOMPARE(run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
    QCOMPARE(run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts), errLines);
    // Listing never talks to a device, and closes every one it opens.
    QCOMPARE(simulated.reportCount(), 0);
    QCOMPARE(simulated.openHandles(), 0);

    const CliRun json = runCli({QStringLiteral("list"), QStringLiteral("--json")}, setup);
    QCOMPARE(json.code, code);
    bool allParse = false;
    const QList<QJsonObject> objects = jsonLines(json.out, allParse);
    QVERIFY(allParse);
    QCOMPARE(objects.size(), devices + 1);
    for (int device = 0; device < devices; ++device) {
        const QJsonObject &object = objects[device];
        QCOMPARE(object.value(QStringLiteral("port")).toString(),
                 QStringLiteral("1-%1").arg(device + 1));
        // The keys scripts were written against before the port came.
        QCOMPARE(object.value(QStringLiteral("path")).toString(),
                 QString::fromStdString(SimulatedDevices::panelPath(device)));
        QCOMPARE(object.value(QStringLiteral("serialNumber")).toString(),
                 QStringLiteral("CP%1").arg(1000 + device));
    }
    QCOMPARE(objects.last().value(QStringLiteral("exitCode")).toInt(-1), code);
    QCOMPARE(objects.last().value(QStringLiteral("udevRule")).toString(),
             ruleInstalled ? rule : QString());
}

void CliTest::checkExamples_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<int>("pageCount");
    QTest::addColumn<int>("pageSize");
    QTest::addColumn<QString>("title");

    QTest::newRow("panel") << "panel" << 4096 << 64 << "ControlPanel";
    QTest::newRow("board") << "board" << 252 << 128 << "ZEL02 control board";
}

// The summary worked out again from objcopy's image, padded to the target's pages.
void CliTest::checkExamples()
{
    QFETCH(QString, target);
    QFETCH(int, pageCount);
    QFETCH(int, pageSize);
    QFETCH(QString, title);

    const QByteArray image =
        (target == QLatin1String("panel") ? panelImage : boardImage).left(pageCount * pageSize);
    int usedPages = 0;
    int dataBytes = 0;
    QStringList ranges;
    int runStart = -1;
    const int digits = QString::number(pageCount * pageSize - 1, 16).size();
    const auto hex = [digits](int address) {
        return QStringLiteral("0x%1").arg(address, digits, 16, QLatin1Char('0'));
    };
    for (int page = 0; page <= pageCount; ++page) {
        const int before = dataBytes;
        for (int at = page * pageSize; page < pageCount && at < (page + 1) * pageSize; ++at)
            dataBytes += image[at] != char(0xFF);
        const bool used = dataBytes > before;
        usedPages += used;
        if (used && runStart < 0)
            runStart = page;
        if (!used && runStart >= 0) {
            ranges << hex(runStart * pageSize) + '-' + hex(page * pageSize - 1);
            runStart = -1;
        }
    }
    const QString path = file(target);
    const QString expected =
        QStringLiteral("target: %2 (%3)\nfile: %1\nused pages: %4 of %5 (%6 bytes each)\n"
                       "data bytes: %7\nranges: %8\nsha256: %9\nend-of-file record: yes\n")
            .arg(path, target, title)
            .arg(usedPages)
            .arg(pageCount)
            .arg(pageSize)
            .arg(dataBytes)
            .arg(ranges.join(QStringLiteral(", ")),
                 QString::fromLatin1(
                     QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex()));

    const CliRun run = runCli({QStringLiteral("check"), QStringLiteral("--target"), target, path});
    QCOMPARE(run.code, 0);
    QCOMPARE(run.out, expected);
    QCOMPARE(run.err, QString());
    QCOMPARE(SimulatedDevices::instance().openCount(), 0);
}

void CliTest::checkVerdicts_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("name"); // of the file, and as standard error shows it
    QTest::addColumn<QString>("shownName");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("err"); // all of standard error; %1 is the file as shown

    const QByteArray data = hexRecord(0, 0, QByteArray(16, '\x11'));
    const QByteArray end = hexRecord(0, 1, QByteArray());
    const QString cutShort = QStringLiteral("warning: %1\n").arg(kNoEndRecordWarning);
    const QString empty = QStringLiteral("%1: the file is empty: there is nothing to write\n");
    const QStringList none;
    const QStringList allowNoEof{QStringLiteral("--allow-no-eof")};
    const QString verdict = QStringLiteral("verdict.hex");

    QTest::newRow("good") << "board" << data + end << none << verdict << verdict << 0 << "";
    QTest::newRow("no end-of-file record")
        << "board" << data << none << verdict << verdict << 3
        << "%1: no end-of-file record after 1 lines; the file may have been cut short "
           "(--allow-no-eof to write it anyway)\n";
    QTest::newRow("no end-of-file record allowed")
        << "board" << data << allowNoEof << verdict << verdict << 0 << cutShort;
    QTest::newRow("no data") << "panel" << end << none << verdict << verdict << 0
                             << QStringLiteral("warning: %1\n").arg(kNoDataWarning);
    QTest::newRow("nothing at all")
        << "panel" << QByteArray() << none << verdict << verdict << 3 << empty;
    QTest::newRow("nothing at all allowed")
        << "panel" << QByteArray() << allowNoEof << verdict << verdict << 3 << empty;
    // 0x3fc00 is 0xfc00 in the fourth 64 KiB segment.
    QTest::newRow("image limit page")
        << "panel"
        << hexRecord(0, 4, QByteArray::fromHex("0003")) + hexRecord(0xFC00, 0, "ab") + end << none
        << verdict << verdict << 0 << QStringLiteral("warning: %1\n").arg(kLimitPageWarning);
    // Sixteen 0x11 at 0 sum to 0x120: the checksum is 0xE0, not 0.
    QTest::newRow("bad checksum") << "board" << data + data.left(41) + "00\n" + end << none
                                  << verdict << verdict << 3
                                  << "%1: Checksum Error line 2. Sum:E0 Check: 0\n";
    QTest::newRow("no colon") << "board" << data + data.mid(1) + end << none << verdict << verdict
                              << 3 << "%1: Error line 2. Expected a leading ':'\n";
    QTest::newRow("beyond the board")
        << "board" << hexRecord(0x7E00, 0, "ab") + end << none << verdict << verdict << 3
        << "%1: Memory address limit of 32256 bytes exceeded\n";
    QTest::newRow("cut in a record")
        << "board" << data + data.left(20) + '\n' + end << none << verdict << verdict << 3
        << "%1: Error line 2. Malformed record\n";
    // A name that would clear the screen and forge a line, escaped wherever it is shown.
    const QString forging = QStringLiteral("a\x1b[2J\tb\\\n\x7f.hex");
    const QString forgingShown = QStringLiteral("a\\x1b[2J\\tb\\\\\\n\\x7f.hex");
    QTest::newRow("name escaped") << "board" << data + end << none << forging << forgingShown << 0
                                  << "";
    QTest::newRow("name escaped, refused")
        << "board" << data + data.mid(1) + end << none << forging << forgingShown << 3
        << "%1: Error line 2. Expected a leading ':'\n";
}

void CliTest::checkVerdicts()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, options);
    QFETCH(QString, name);
    QFETCH(QString, shownName);
    QFETCH(int, code);
    QFETCH(QString, err);

    const QString path = folder.filePath(name);
    const QString shownPath = folder.filePath(shownName);
    QVERIFY(writeFile(path, content));
    const QStringList check =
        QStringList{QStringLiteral("check"), QStringLiteral("--target"), target, path} + options;
    const CliRun run = runCli(check);
    QCOMPARE(run.code, code);
    QCOMPARE(run.err, QString(err).replace(QStringLiteral("%1"), shownPath));
    QCOMPARE(run.out.isEmpty(), code != 0);
    if (code == 0)
        QVERIFY2(run.out.contains(QStringLiteral("\nfile: %1\n").arg(shownPath)),
                 qPrintable(run.out));

    const CliRun json = runCli(check + QStringList{QStringLiteral("--json")});
    QCOMPARE(json.code, code);
    bool allParse = false;
    const QList<QJsonObject> objects = jsonLines(json.out, allParse);
    QVERIFY(allParse);
    QCOMPARE(objects.size(), 1);
    QCOMPARE(objects[0].value(QStringLiteral("exitCode")).toInt(-1), code);
    QCOMPARE(objects[0].value(QStringLiteral("file")).toString(), path);
    QCOMPARE(objects[0].value(QStringLiteral("warnings")).toArray().size(),
             err.count(QStringLiteral("warning: ")));

    // The update gives the same verdict: it refuses what check refuses, and only that.
    QStringList update = check;
    update[0] = QStringLiteral("update");
    const CliRun updated = runCli(update);
    QCOMPARE(updated.code == kExitFileRefused, code == kExitFileRefused);
    QCOMPARE(SimulatedDevices::instance().reportCount() > 0, code != kExitFileRefused);
}

void CliTest::waitForPanel_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("access");
    QTest::addColumn<int>("changeAtPoll"); // after this many polls one usable panel is there
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("polls");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("seconds"); // --wait's

    const int open = int(PanelAccess::Open);
    QTest::newRow("already attached") << 1 << open << -1 << 0 << 0 << kBoardUpdatedText << 2;
    QTest::newRow("plugged in") << 0 << open << 3 << 0 << 3 << kBoardUpdatedText << 2;
    QTest::newRow("opens once udev lets it")
        << 1 << int(PanelAccess::NoPermission) << 2 << 0 << 2 << kBoardUpdatedText << 2;
    QTest::newRow("never comes") << 0 << open << -1 << 4 << 8 << kNoPanelText << 2;
    QTest::newRow("two attached") << 2 << open << -1 << 4 << 0 << kSeveralPanelsText << 2;
    // --wait 0 looks once and goes on, as without --wait.
    QTest::newRow("no wait, attached") << 1 << open << -1 << 0 << 0 << kBoardUpdatedText << 0;
    QTest::newRow("no wait, none") << 0 << open << 1 << 4 << 0 << kNoPanelText << 0;
}

void CliTest::waitForPanel()
{
    QFETCH(int, devices);
    QFETCH(int, access);
    QFETCH(int, changeAtPoll);
    QFETCH(int, code);
    QFETCH(int, polls);
    QFETCH(QString, message);
    QFETCH(int, seconds);

    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(devices);
    if (devices > 0)
        simulated.setPanelAccess(PanelAccess(access));
    int pollsSeen = 0;
    CliSetup setup;
    setup.pause = [&](int milliseconds) {
        if (milliseconds == 250 && ++pollsSeen == changeAtPoll) {
            simulated.setDeviceCount(1);
            simulated.setPanelAccess(PanelAccess::Open);
        }
    };
    const CliRun run =
        runCli({QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("board"),
                QStringLiteral("--wait"), QString::number(seconds), file(QStringLiteral("board"))},
               setup);
    QCOMPARE(run.code, code);
    QVERIFY2(run.err.contains(message + '\n'), qPrintable(run.err));
    QVERIFY(
        run.err.contains(QStringLiteral("Waiting up to %1 s for one ControlPanel\n").arg(seconds)));
    QCOMPARE(run.pauses.count(250), polls);
    QCOMPARE(simulated.reportCount() > 0, code == 0);
}

void CliTest::history()
{
    QFile::remove(historyPath());
    const CliRun empty = runCli({QStringLiteral("history")});
    QCOMPARE(empty.code, 0);
    QCOMPARE(empty.out, QString());
    QCOMPARE(empty.err, QString());

    const QString path = file(QStringLiteral("board"));
    const auto update = [](const QString &hexFile) {
        return runCli({QStringLiteral("update"), QStringLiteral("--target"),
                       QStringLiteral("board"), hexFile})
            .code;
    };
    // Named as typed in the file's own folder: the history holds the whole path all the same.
    const QString workingFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QFileInfo(path).path()));
    const int typedCode = update(QFileInfo(path).fileName());
    const QString typedPath = QDir::current().absoluteFilePath(QFileInfo(path).fileName());
    QVERIFY(QDir::setCurrent(workingFolder));
    QCOMPARE(typedCode, 0);
    SimulatedDevices::instance().setDeviceCount(0);
    QCOMPARE(update(path), 4);
    SimulatedDevices::instance().setDeviceCount(1);
    QCOMPARE(update(path), 0);

    const CliRun run = runCli({QStringLiteral("history")});
    QCOMPARE(run.code, 0);
    // One header, then a line for each update that took the file; without a ControlPanel the
    // sequence never took it: nothing to record.
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QStringLiteral("time\tfront end\ttarget\tfile\tsha256\tused "
                                      "pages\tseconds\tresult\tport\tserial"));
    const QStringList paths{typedPath, path};
    for (int entry = 0; entry < 2; ++entry) {
        const QStringList fields = lines[1 + entry].split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 10);
        QCOMPARE(fields.mid(1, 3), (QStringList{"command line", "board", paths[entry]}));
        QCOMPARE(fields[5], QStringLiteral("96"));
        QCOMPARE(fields[7], QString(kBoardUpdatedText));
        QCOMPARE(fields.mid(8), (QStringList{"1-1", "CP1000"}));
    }
    QCOMPARE(lines[3], QString());
}

namespace {

// The history file, or whatever stands in its place, gone.
void removeHistory()
{
    const QString path = historyPath();
    if (!QFile::remove(path))
        QDir().rmdir(path);
}

} // namespace

void CliTest::historyReadErrors_data()
{
    // What stands in the history file's place: a folder, or a link to this.
    QTest::addColumn<QString>("linkTo");

    QTest::newRow("a folder") << QString();
    QTest::newRow("a dangling link") << folder.filePath(QStringLiteral("gone.tsv"));
    // It opens, but reading its first byte fails (EIO): the failure comes while streaming.
    QTest::newRow("a read error") << QStringLiteral("/proc/self/mem");
    // No writer would ever come: refused at once, never waited on.
    QTest::newRow("a named pipe") << QStringLiteral("fifo");
    // A link, even to a file that reads, is never followed.
    QTest::newRow("a link to a regular file") << folder.filePath(QStringLiteral("elsewhere.tsv"));
}

void CliTest::historyReadErrors()
{
    QFETCH(QString, linkTo);

    const QString path = historyPath();
    removeHistory();
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    if (linkTo.endsWith(QLatin1String("elsewhere.tsv")))
        QVERIFY(writeFile(linkTo, "time\n"));
    if (linkTo == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else
        QVERIFY(linkTo.isEmpty() ? QDir().mkdir(path) : QFile::link(linkTo, path));
    const CliRun run = runCli({QStringLiteral("history")});
    removeHistory();
    QCOMPARE(run.code, int(kExitHistoryUnreadable));
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.startsWith(QStringLiteral("zelupdate-cli: cannot read %1: ").arg(path)),
             qPrintable(run.err));
}

void CliTest::historyNotWritten_data()
{
    QTest::addColumn<QString>("blocking");
    QTest::addColumn<QString>("warning"); // %1 is the state folder

    // The history's folder would have to be made inside a plain file.
    QTest::newRow("folder in a file") << "file"
                                      << "cannot create the folder of %1/zelUpdate/history.tsv";
    // A pipe at the history's path would hold the update after the device was written.
    QTest::newRow("named pipe") << "fifo"
                                << "cannot open %1/zelUpdate/history.tsv: not a regular file";
    // A link could turn the history onto any file this user may write.
    QTest::newRow("symbolic link")
        << "link"
        << "cannot open %1/zelUpdate/history.tsv: a symbolic link, not a regular file";
    // The line does not fit under the file size limit.
    QTest::newRow("file size limit") << "limit"
                                     << "cannot write %1/zelUpdate/history.tsv: File too large";
}

void CliTest::historyNotWritten()
{
    QFETCH(QString, blocking);
    QFETCH(QString, warning);

    const QString state = folder.filePath(QStringLiteral("blocked-") + blocking);
    const QByteArray history = QFile::encodeName(state + QStringLiteral("/zelUpdate/history.tsv"));
    if (blocking == QLatin1String("file")) {
        QVERIFY(writeFile(state, "x"));
    } else {
        QVERIFY(QDir().mkpath(state + QStringLiteral("/zelUpdate")));
        if (blocking == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(history.constData(), 0600), 0);
        if (blocking == QLatin1String("link"))
            QCOMPARE(
                ::symlink(
                    QFile::encodeName(folder.filePath(QStringLiteral("target.tsv"))).constData(),
                    history.constData()),
                0);
    }
    qputenv("XDG_STATE_HOME", state.toUtf8());
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit unlimited = limit;
    // Past the limit a write fails with EFBIG, once the signal that would end the process is
    // ignored; the lock's mark is smaller than the history's header.
    const auto xfsz = std::signal(SIGXFSZ, SIG_IGN);
    if (blocking == QLatin1String("limit")) {
        limit.rlim_cur = 200;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    const CliRun run = runCli({QStringLiteral("update"), QStringLiteral("--target"),
                               QStringLiteral("board"), file(QStringLiteral("board"))});
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
    std::signal(SIGXFSZ, xfsz);
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("target.tsv"))));
    QCOMPARE(run.code, 0);
    QVERIFY2(run.err.contains(QStringLiteral("warning: update history not written: ") +
                              warning.arg(state) + '\n'),
             qPrintable(run.err));
    QVERIFY(boardFlash() == boardImage);
}

// A history edited by hand or damaged reaches the terminal escaped: its tabs and line ends are its
// layout, anything else a terminal would obey is shown as an escape.
void CliTest::historyEscaped()
{
    QVERIFY(QDir().mkpath(QFileInfo(historyPath()).path()));
    QVERIFY(writeFile(historyPath(), QByteArray(kHistoryHeader) +
                                         "\n2026-12-09T11:44:10\tcommand line\tboard\tfw.hex\t-\t0"
                                         "\t0.1\t\x1b[2J\xc2\x9b"
                                         "31m\rgone\t1-1\tCP1000\n"));
    const CliRun run = runCli({QStringLiteral("history")});
    QFile::remove(historyPath());
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.endsWith(QStringLiteral("\t0.1\t\\x1b[2J\\x9b31m\\rgone\t1-1\tCP1000\n")),
             qPrintable(run.out));
}

// A history whose last line lost its line end (a full disk, an edit) keeps its next line whole.
void CliTest::historyAfterCutLine()
{
    const QString state = folder.filePath(QStringLiteral("cut"));
    QVERIFY(QDir().mkpath(state + QStringLiteral("/zelUpdate")));
    QVERIFY(writeFile(state + QStringLiteral("/zelUpdate/history.tsv"), "header\ncut short"));
    qputenv("XDG_STATE_HOME", state.toUtf8());
    const CliRun run = runCli({QStringLiteral("update"), QStringLiteral("--target"),
                               QStringLiteral("board"), file(QStringLiteral("board"))});
    const QStringList lines =
        QString::fromUtf8(readFile(state + QStringLiteral("/zelUpdate/history.tsv")))
            .split(QLatin1Char('\n'));
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    QCOMPARE(run.code, 0);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[1], QStringLiteral("cut short"));
    QVERIFY2(lines[2].contains(QLatin1String("\tboard\t")), qPrintable(lines[2]));
}

namespace {

// The commands written, in order, as their two letters, a run of one repeated as "Ee*200", each
// prefixed with its unit's place when that is not the first: "Ee*200 Bb bB Ee".
QString commandsSent()
{
    QStringList sent;
    QString last;
    int repeats = 0;
    const auto flush = [&] {
        if (repeats > 0)
            sent << (repeats > 1 ? QStringLiteral("%1*%2").arg(last).arg(repeats) : last);
    };
    for (const sim::TrafficRecord &record : SimulatedDevices::instance().traffic()) {
        if (record.direction != sim::TrafficRecord::Direction::Out)
            continue;
        QString letters = QString::fromLatin1(reinterpret_cast<const char *>(&record.bytes[1]), 2);
        if (record.device != 0)
            letters = QStringLiteral("%1:%2").arg(record.device).arg(letters);
        if (letters == last) {
            ++repeats;
            continue;
        }
        flush();
        last = letters;
        repeats = 1;
    }
    flush();
    return sent.join(QLatin1Char(' '));
}

} // namespace

void CliTest::probe_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("units");
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QByteArray>("faultCommand");
    QTest::addColumn<QList<int>>("occurrences");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("quirk");
    QTest::addColumn<bool>("locked"); // another program holds the unit's lock
    // A unit with the same serial number is plugged in here once the probed one has left.
    QTest::addColumn<QString>("arrivesAt");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message"); // in standard error
    QTest::addColumn<QString>("sent");    // commandsSent()
    QTest::addColumn<int>("failed");      // connection checks the report counts as failed
    // The lock's mark before the probe says an update did not finish, and after it whether the
    // unit may be in its bootloader.
    QTest::addColumn<bool>("unfinishedBefore");
    QTest::addColumn<bool>("unfinishedAfter");

    const QStringList json{"--json"};
    const QStringList restart{"--restart", "--yes", "--json"};
    const QList<int> none;
    const int echo = int(FaultKind::WrongEcho);
    const int noReply = int(FaultKind::NoReply);
    const int normal = int(RestartQuirk::Normal);
    const QString port = QStringLiteral("1-1");
    const QString measured = QStringLiteral("Probing the ControlPanel at USB port 1-1: 200 "
                                            "connection checks\n");
    const QString trip = QStringLiteral("Ee*200 Bb bB Ee");

    QTest::newRow("link") << json << 1 << false << QString() << QByteArray() << none << 0 << normal
                          << false << QString() << 0 << measured << "Ee*200" << 0 << false << false;
    QTest::newRow("restart, as text")
        << QStringList{"--restart", "--yes"} << 1 << false << QString() << QByteArray() << none << 0
        << normal << false << QString() << 0 << "Restarting it into its application\n"
        << trip << -1 << false << false;
    QTest::newRow("restart, confirmed")
        << QStringList{"--restart", "--json"} << 1 << true << "y" << QByteArray() << none << 0
        << normal << false << QString() << 0 << "Go on? [y/N] " << trip << 0 << false << false;
    QTest::newRow("restart, refused")
        << QStringList{"--restart", "--json"} << 1 << true << "yess" << QByteArray() << none << 0
        << normal << false << QString() << 2 << QString(kProbeRestartRefusedText).arg(port) << ""
        << -1 << false << false;
    QTest::newRow("restart, no terminal")
        << QStringList{"--restart"} << 1 << false << "y" << QByteArray() << none << 0 << normal
        << false << QString() << 2 << "add --yes to restart it without asking\n"
        << "" << -1 << false << false;
    QTest::newRow("one check lost")
        << json << 1 << false << QString() << QByteArray("Ee") << QList<int>{17} << echo << normal
        << false << QString() << 0 << measured << "Ee*200" << 1 << false << false;
    QTest::newRow("no check answered")
        << restart << 1 << false << QString() << QByteArray("Ee") << QList<int>{0, 1, 2} << noReply
        << normal << false << QString() << 5 << QString(kProbeNotAnsweringText).arg(port) << "Ee*3"
        << 3 << false << false;
    QTest::newRow("answers stop") << json << 1 << false << QString() << QByteArray("Ee")
                                  << QList<int>{50, 51, 52} << noReply << normal << false
                                  << QString() << 5
                                  << QString(kProbeStoppedAnsweringText).arg(port).arg(50)
                                  << "Ee*53" << 3 << false << false;
    QTest::newRow("never leaves") << restart << 1 << false << QString() << QByteArray() << none << 0
                                  << int(RestartQuirk::StaysOnBus) << false << QString() << 5
                                  << QString(kProbeNeverLeftText).arg(port).arg(5) << "Ee*200 Bb"
                                  << 0 << false << false;
    QTest::newRow("never returns")
        << restart + QStringList{"--restart-timeout", "1"} << 1 << false << QString()
        << QByteArray() << none << 0 << int(RestartQuirk::NeverReturns) << false << QString() << 5
        << QString(kProbeNotBackInBootloaderText).arg(port).arg(1) << "Ee*200 Bb" << 0 << false
        << true;
    // The unit restarted all the same, and is brought back before the fault is told.
    QTest::newRow("entry not echoed")
        << restart << 1 << false << QString() << QByteArray("Bb") << QList<int>{0} << echo << normal
        << false << QString() << 5 << QString(kProbeEntryUnconfirmedRestartText).arg(port) << trip
        << 0 << false << false;
    QTest::newRow("exit not echoed")
        << restart << 1 << false << QString() << QByteArray("bB") << QList<int>{0} << echo << normal
        << false << QString() << 5 << QString(kProbeExitUnconfirmedRestartText).arg(port) << trip
        << 0 << false << false;
    QTest::newRow("silent after the return")
        << restart << 1 << false << QString() << QByteArray("Ee") << QList<int>{200} << noReply
        << normal << false << QString() << 5 << QString(kProbeSilentAfterReturnText).arg(port)
        << trip << 0 << false << true;
    QTest::newRow("two units") << restart << 2 << false << QString() << QByteArray() << none << 0
                               << normal << false << QString() << 4
                               << "2 ControlPanels are attached (1-1, 1-2): choose one with --port"
                               << "" << -1 << false << false;
    QTest::newRow("the second of two")
        << restart + QStringList{"--port", "1-2"} << 2 << false << QString() << QByteArray() << none
        << 0 << normal << false << QString() << 0 << "at USB port 1-2: 200"
        << "1:Ee*200 1:Bb 1:bB 1:Ee" << 0 << false << false;
    QTest::newRow("back at another port")
        << restart + QStringList{"--restart-timeout", "1"} << 1 << false << QString()
        << QByteArray() << none << 0 << int(RestartQuirk::NeverReturns) << false << "1-2" << 5
        << QString(kProbeBackElsewhereText).arg(port).arg(1).arg(QStringLiteral("1-2"))
        << "Ee*200 Bb" << 0 << false << true;
    QTest::newRow("held by another program") << restart << 1 << false << QString() << QByteArray()
                                             << none << 0 << normal << true << QString() << 4
                                             << QString(kUnitBusyDetail)
                                                    .arg(port, QStringLiteral("zelUpdate"))
                                                    .arg(QCoreApplication::applicationPid())
                                             << "" << -1 << false << false;
    // Lost checks three apart are counted; only three lost in a row stop the probe.
    QTest::newRow("scattered lost checks")
        << json << 1 << false << QString() << QByteArray("Ee") << QList<int>{10, 13, 16} << noReply
        << normal << false << QString() << 0 << measured << "Ee*200" << 3 << false << false;
    // The departure is waited for as long as --leave-timeout says, not --restart-timeout.
    QTest::newRow("never leaves, leave time-out")
        << restart + QStringList{"--leave-timeout", "1", "--restart-timeout", "2"} << 1 << false
        << QString() << QByteArray() << none << 0 << int(RestartQuirk::StaysOnBus) << false
        << QString() << 5 << QString(kProbeNeverLeftText).arg(port).arg(1) << "Ee*200 Bb" << 0
        << false << false;
    // A probe that finds the unit as an earlier update left it keeps that update's mark.
    QTest::newRow("link, an update did not finish")
        << json << 1 << false << QString() << QByteArray() << none << 0 << normal << false
        << QString() << 0 << measured << "Ee*200" << 0 << true << true;
    QTest::newRow("no check answered, an update did not finish")
        << restart << 1 << false << QString() << QByteArray("Ee") << QList<int>{0, 1, 2} << noReply
        << normal << false << QString() << 5
        << QStringLiteral("\nThe last update of the ControlPanel at USB port 1-1, started "
                          "%1, did not finish")
        << "Ee*3" << 3 << true << true;
}

void CliTest::probe()
{
    QFETCH(QStringList, options);
    QFETCH(int, units);
    QFETCH(bool, terminal);
    QFETCH(QString, answer);
    QFETCH(QByteArray, faultCommand);
    QFETCH(QList<int>, occurrences);
    QFETCH(int, fault);
    QFETCH(int, quirk);
    QFETCH(bool, locked);
    QFETCH(QString, arrivesAt);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QString, sent);
    QFETCH(int, failed);
    QFETCH(bool, unfinishedBefore);
    QFETCH(bool, unfinishedAfter);

    if (unfinishedBefore) {
        // An update that died while writing: its mark stays unfinished.
        UnitLock died;
        QCOMPARE(died.take(QStringLiteral("1-1"), QStringLiteral("zelupdate-cli"),
                           QStringLiteral("board")),
                 UnitLock::Outcome::Taken);
        died.note(QStringLiteral("writing"));
        died.releaseUnfinished();
        bool held = true;
        const std::optional<UnitMark> left = UnitLock::read(QStringLiteral("1-1"), held);
        QVERIFY(left && !held);
        if (message.contains(QLatin1String("%1")))
            message = message.arg(left->started.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    }
    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(units);
    for (int unit = 0; unit < units; ++unit) {
        simulated.setRestartQuirk(RestartQuirk(quirk), unit);
        for (std::size_t at = 0; at < sim::kPanelFlashSize; ++at)
            simulated.panelFlash(unit)[at] = std::uint8_t(at * 7 + unit);
        for (std::size_t at = 0; at < sim::kBoardFlashSize; ++at)
            simulated.boardFlash(unit)[at] = std::uint8_t(at * 13 + unit);
    }
    const auto flashes = [&simulated, units] {
        QByteArrayList bytes;
        for (int unit = 0; unit < units; ++unit)
            bytes << QByteArray(reinterpret_cast<const char *>(simulated.panelFlash(unit).data()),
                                int(sim::kPanelFlashSize))
                  << QByteArray(reinterpret_cast<const char *>(simulated.boardFlash(unit).data()),
                                int(sim::kBoardFlashSize));
        return bytes;
    };
    const QByteArrayList flashBefore = flashes();
    for (const int occurrence : occurrences)
        simulated.injectFault(FaultTrigger::onCommand(faultCommand[0], faultCommand[1], occurrence),
                              {FaultKind(fault)});
    UnitLock other;
    if (locked)
        QCOMPARE(
            other.take(QStringLiteral("1-1"), QStringLiteral("zelUpdate"), QStringLiteral("panel")),
            UnitLock::Outcome::Taken);

    CliSetup setup;
    setup.inIsTerminal = terminal;
    setup.answer = answer;
    // The restarts are followed against the clock; a pause that sleeps keeps the looks few.
    setup.pause = [&](int milliseconds) {
        if (!arrivesAt.isEmpty() && simulated.unitIndex(arrivesAt.toStdString()) < 0)
            simulated.attachUnit(arrivesAt.toStdString(), "CP1000");
        QThread::msleep(ulong(milliseconds));
    };
    const CliRun run = runCli(QStringList{"probe"} + options, setup);
    QCOMPARE(run.code, code);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(commandsSent(), sent);
    QVERIFY(flashes() == flashBefore);
    bool held = true;
    const std::optional<UnitMark> mark = UnitLock::read(QStringLiteral("1-1"), held);
    QCOMPARE(mark && mark->unfinishedPastEntry(), unfinishedAfter);
    if (!options.contains(QStringLiteral("--json"))) {
        if (code == 0)
            QVERIFY2(run.out.contains(QStringLiteral("\nto the bootloader:\n")) &&
                         run.out.endsWith(QStringLiteral("\nresult: measured\nexit code: 0\n")),
                     qPrintable(run.out));
        return;
    }
    if (failed < 0) {
        if (code == 2)
            QCOMPARE(run.out, QString());
        return;
    }

    QJsonParseError error;
    const QJsonObject report = QJsonDocument::fromJson(run.out.toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(report[QStringLiteral("exitCode")].toInt(), code);
    const QJsonObject roundTrips = report[QStringLiteral("roundTripMs")].toObject();
    // Every check sent before anything else is counted.
    QCOMPARE(roundTrips[QStringLiteral("checks")].toInt(),
             sent.section(QLatin1Char(' '), 0, 0).section(QLatin1Char('*'), 1).toInt());
    QCOMPARE(roundTrips[QStringLiteral("failed")].toInt(), failed);
    QCOMPARE(report.contains(QStringLiteral("toBootloader")),
             options.contains(QStringLiteral("--restart")));
    if (options.contains(QStringLiteral("--restart")) && code == 0) {
        const QJsonObject toBootloader = report[QStringLiteral("toBootloader")].toObject();
        for (const QJsonObject &trip :
             {toBootloader, report[QStringLiteral("toApplication")].toObject()}) {
            const double left = trip[QStringLiteral("leftMs")].toDouble(-1);
            const double back = trip[QStringLiteral("backMs")].toDouble(-1);
            QVERIFY(0 <= left && left <= back &&
                    back <= trip[QStringLiteral("openedMs")].toDouble());
            QCOMPARE(trip[QStringLiteral("newNode")].toBool(), true);
            // Another unit that was there all along did not come up meanwhile.
            QVERIFY(trip[QStringLiteral("elsewhere")].isNull());
        }
        QCOMPARE(toBootloader[QStringLiteral("unit")].toObject()[QStringLiteral("release")],
                 QJsonValue(QStringLiteral("0x0001")));
        QCOMPARE(report[QStringLiteral("bootloaderToldApart")], QJsonValue(true));
    }
    // The report is kept as it was written, the failed ones too.
    const QString kept = report[QStringLiteral("reportFile")].toString();
    QVERIFY2(kept.startsWith(QFileInfo(historyPath()).path() + QStringLiteral("/probe-1-")),
             qPrintable(kept));
    QJsonObject keptReport = QJsonDocument::fromJson(readFile(kept)).object();
    keptReport.insert(QStringLiteral("reportFile"), kept);
    QCOMPARE(keptReport, report);
}

// A history begun before the port and serial columns: its header names them and its lines show
// them empty, while lines written since keep theirs.
void CliTest::historyEarlierLines()
{
    const QString state = folder.filePath(QStringLiteral("earlier"));
    QVERIFY(QDir().mkpath(state + QStringLiteral("/zelUpdate")));
    const QByteArray earlier = "2025-01-02T03:04:05\twindow\tpanel\t/a.hex\t-\t0\t1.0\tNo file\n";
    QVERIFY(writeFile(state + QStringLiteral("/zelUpdate/history.tsv"),
                      "time\tfront end\ttarget\tfile\tsha256\tused pages\tseconds\tresult\n" +
                          earlier));
    qputenv("XDG_STATE_HOME", state.toUtf8());
    const int code = runCli({QStringLiteral("update"), QStringLiteral("--target"),
                             QStringLiteral("board"), file(QStringLiteral("board"))})
                         .code;
    const CliRun run = runCli({QStringLiteral("history")});
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    QCOMPARE(code, 0);
    QCOMPARE(run.code, 0);
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QString::fromLatin1(kHistoryHeader));
    QCOMPARE(lines[1], QString::fromLatin1(earlier.trimmed()) + QStringLiteral("\t\t"));
    QVERIFY2(lines[2].endsWith(QStringLiteral("\t1-1\tCP1000")), qPrintable(lines[2]));
}

void CliTest::allUnitsExitCode_data()
{
    QTest::addColumn<QList<int>>("codes"); // each unit's, in port order
    QTest::addColumn<int>("code");

    QTest::newRow("none attached") << QList<int>() << 4;
    QTest::newRow("every unit updated") << QList<int>{0, 0, 0} << 0;
    // However late it comes, a unit that may hold an incomplete firmware decides.
    QTest::newRow("one incomplete") << QList<int>{5, 0, 6, 1} << 1;
    QTest::newRow("first failing by port") << QList<int>{0, 6, 5} << 6;
    QTest::newRow("a worker interrupted") << QList<int>{0, 130} << 130;
}

void CliTest::allUnitsExitCode()
{
    QFETCH(QList<int>, codes);
    QFETCH(int, code);
    QCOMPARE(::allUnitsExitCode(std::vector<int>(codes.begin(), codes.end())), code);
}

void CliTest::portOrder_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");

    QTest::newRow("by number, not text") << "1-2"
                                         << "1-10";
    QTest::newRow("a hub before its ports") << "1-1"
                                            << "1-1.2";
    QTest::newRow("bus first") << "1-9.4"
                               << "2-1";
}

void CliTest::portOrder()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QVERIFY(portBefore(first, second));
    QVERIFY(!portBefore(second, first));
}

void CliTest::allWithoutUnits()
{
    SimulatedDevices::instance().setDeviceCount(0);
    const CliRun run =
        runCli({QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
                QStringLiteral("--all"), QStringLiteral("--json"), file(QStringLiteral("panel"))});
    QCOMPARE(run.code, 4);
    bool parse = false;
    const QList<QJsonObject> events = jsonLines(run.out, parse);
    QVERIFY(parse);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].value(QStringLiteral("event")).toString(), QStringLiteral("summary"));
    QCOMPARE(events[0].value(QStringLiteral("units")).toArray().size(), 0);
    QCOMPARE(events[0].value(QStringLiteral("exitCode")).toInt(), 4);
    QVERIFY2(run.err.contains(QStringLiteral("No ControlPanel is attached")), qPrintable(run.err));
}

void CliTest::workerEnds_data()
{
    // A shell stands in for the worker: what it writes, then how it ends.
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("result");

    const QString writing =
        QStringLiteral("echo '{\"event\":\"phase\",\"phase\":\"writing\",\"total\":3}'; ");
    const QString connecting =
        QStringLiteral("echo '{\"event\":\"phase\",\"phase\":\"connecting\",\"total\":0}'; ");
    // Its code is the result's, not the process's status.
    QTest::newRow("its own result")
        << writing + QStringLiteral("echo '{\"event\":\"result\",\"result\":\"not back\","
                                    "\"seconds\":2,\"exitCode\":6}'; exit 0")
        << 6 << "not back";
    // Cut in the middle of a write, it may have left the firmware incomplete.
    QTest::newRow("killed while writing")
        << writing + QStringLiteral("kill -9 $$") << 1
        << "ended by signal 9 (Killed) after the bootloader entry: the firmware may be "
           "incomplete; update this unit again";
    // The entry command may have reached the unit before the worker died.
    QTest::newRow("killed while entering")
        << QStringLiteral("echo '{\"event\":\"phase\",\"phase\":\"entering\",\"total\":0}'; "
                          "kill -9 $$")
        << 1
        << "ended by signal 9 (Killed) after the bootloader entry: the firmware may be "
           "incomplete; update this unit again";
    QTest::newRow("interrupted before the entry")
        << connecting + QStringLiteral("exit 130") << 130
        << "ended by signal 2 (Interrupt) before the bootloader entry: nothing was sent";
    QTest::newRow("silent") << QStringLiteral("exit 0") << 5
                            << "ended with exit status 0 without a result before the bootloader "
                               "entry: nothing was sent";
}

void CliTest::workerEnds()
{
    QFETCH(QString, script);
    QFETCH(int, code);
    QFETCH(QString, result);

    UnitWorker worker(QStringLiteral("1-2"), QStringLiteral("CP1001"));
    QStringList events;
    worker.onEvent = [&events](const QJsonObject &event) {
        events << event.value(QStringLiteral("port")).toString() +
                      event.value(QStringLiteral("serial")).toString();
    };
    worker.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, QByteArray());
    QTRY_VERIFY(worker.report().ended);
    QCOMPARE(worker.report().exitCode, code);
    QCOMPARE(worker.report().result, result);
    QVERIFY(!events.isEmpty() || code == 5);
    for (const QString &event : events)
        QCOMPARE(event, QStringLiteral("1-2CP1001"));
}

// update --all as a user runs it: zelupdate-cli-sim with four units at hardware speed, each
// updated by a worker process of its own, one of them failing its read-back.
void CliTest::allUnitsProcesses()
{
    const QStringList ports{"1-1", "1-2", "1-3", "1-4"};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString flash = folder.filePath(QStringLiteral("all-flash"));
    const QString state = folder.filePath(QStringLiteral("all-state"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), flash);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state);
    // Listed out of order: the summary is in port order all the same.
    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-3,1-2,1-4"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QStringLiteral("100"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_FAULTS"),
                       QStringLiteral("corrupt-read-back@Rr:3@1-3"));
    QProcess cli;
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(ZELUPDATE_CLI_SIM),
              {QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
               QStringLiteral("--all"), QStringLiteral("--json"), file(QStringLiteral("panel"))});
    QVERIFY(cli.waitForFinished(120000));
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == 1, qPrintable(err));

    bool parse = false;
    const QList<QJsonObject> events =
        jsonLines(QString::fromUtf8(cli.readAllStandardOutput()), parse);
    QVERIFY(parse);
    QVERIFY(!events.isEmpty());
    for (const QJsonObject &event : events.mid(0, events.size() - 1)) {
        const QString port = event.value(QStringLiteral("port")).toString();
        QVERIFY(ports.contains(port));
        QCOMPARE(event.value(QStringLiteral("serial")).toString(),
                 QStringLiteral("CP100%1").arg(QStringLiteral("1324").indexOf(port.back())));
    }
    const QJsonObject summary = events.last();
    QCOMPARE(summary.value(QStringLiteral("event")).toString(), QStringLiteral("summary"));
    QCOMPARE(summary.value(QStringLiteral("exitCode")).toInt(), 1);
    const QJsonArray units = summary.value(QStringLiteral("units")).toArray();
    QCOMPARE(units.size(), 4);
    for (int at = 0; at < units.size(); ++at) {
        const QJsonObject unit = units[at].toObject();
        const QString port = ports[at];
        QCOMPARE(unit.value(QStringLiteral("port")).toString(), port);
        const bool failing = port == QLatin1String("1-3");
        QCOMPARE(unit.value(QStringLiteral("exitCode")).toInt(), failing ? 1 : 0);
        const QString result = unit.value(QStringLiteral("result")).toString();
        QVERIFY2(result.contains(QStringLiteral("Error: Address 0x000c0")) == failing,
                 qPrintable(result));
        QVERIFY(unit.value(QStringLiteral("seconds")).toDouble() > 0);
        const QByteArray written =
            readFile(flash + QLatin1Char('/') + port + QStringLiteral("/controlpanel.bin"));
        // The failing unit's flash is whole: only what it sent back was altered.
        QVERIFY2(failing || written == panelImage, qPrintable(port));
    }
    // Each worker added its own unit's line to the history.
    QStringList historyPorts;
    for (const QString &line :
         QString::fromUtf8(readFile(state + QStringLiteral("/zelUpdate/history.tsv")))
             .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
             .mid(1))
        historyPorts << line.split(QLatin1Char('\t')).value(8);
    historyPorts.sort();
    QCOMPARE(historyPorts, ports);
}

void CliTest::allUnitsSignalled_data()
{
    QTest::addColumn<int>("signal");
    // Sent to the program's whole process group, as a terminal sends a key's signal.
    QTest::addColumn<bool>("toGroup");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("result"); // each unit's result contains it
    QTest::addColumn<int>("warnings");   // Ctrl-C's warning, as often

    const QString interrupted = QStringLiteral("Interrupted");
    const QString updated = QString::fromLatin1(kPanelUpdatedText);
    // Each unit's update stops at a page as a single update does; the program sums them up.
    QTest::newRow("SIGTERM to the program") << int(SIGTERM) << false << 1 << interrupted << 0;
    QTest::newRow("SIGTERM to the group") << int(SIGTERM) << true << 1 << interrupted << 0;
    QTest::newRow("Ctrl-\\ at the terminal") << int(SIGQUIT) << true << 1 << interrupted << 0;
    // One Ctrl-C only warns each unit, once: it reaches each through the program alone.
    QTest::newRow("Ctrl-C at the terminal") << int(SIGINT) << true << 0 << updated << 2;
    QTest::newRow("SIGINT to the program") << int(SIGINT) << false << 0 << updated << 2;
}

// A signal to update --all, or to its whole process group, reaches every unit's update once.
void CliTest::allUnitsSignalled()
{
    QFETCH(int, signal);
    QFETCH(bool, toGroup);
    QFETCH(int, code);
    QFETCH(QString, result);
    QFETCH(int, warnings);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString work =
        folder.filePath(QStringLiteral("signalled-%1-%2").arg(signal).arg(toGroup));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), work);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), work);
    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-2"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QStringLiteral("100"));
    QProcess cli;
    cli.setProcessEnvironment(environment);
    // setsid makes the program lead a process group of its own, as a shell makes a job.
    cli.start(QStringLiteral("setsid"),
              {QStringLiteral(ZELUPDATE_CLI_SIM), QStringLiteral("update"),
               QStringLiteral("--target"), QStringLiteral("panel"), QStringLiteral("--all"),
               QStringLiteral("--json"), file(QStringLiteral("panel"))});
    QByteArray out;
    while (out.count("\"phase\":\"writing\"") < 2 && cli.waitForReadyRead(30000))
        out += cli.readAllStandardOutput();
    QCOMPARE(out.count("\"phase\":\"writing\""), 2);
    const pid_t program = pid_t(cli.processId());
    QCOMPARE(::getpgid(program), program);
    QCOMPARE(::kill(toGroup ? -program : program, signal), 0);
    QVERIFY(cli.waitForFinished(60000));
    out += cli.readAllStandardOutput();
    const QByteArray err = cli.readAllStandardError();
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == code, err.constData());
    QCOMPARE(err.count("Stopping now leaves the firmware incomplete"), warnings);
    bool parse = false;
    const QList<QJsonObject> events = jsonLines(QString::fromUtf8(out), parse);
    QVERIFY(parse);
    const QJsonArray units = events.last().value(QStringLiteral("units")).toArray();
    QCOMPARE(units.size(), 2);
    for (const QJsonValue &unit : units) {
        QCOMPARE(unit.toObject().value(QStringLiteral("exitCode")).toInt(), code);
        QVERIFY2(unit.toObject().value(QStringLiteral("result")).toString().contains(result),
                 qPrintable(unit.toObject().value(QStringLiteral("result")).toString()));
    }
}

// Units whose USB port cannot be found are each left alone, however many: an empty port names no
// unit, so two of them are never taken for one.
void CliTest::allUnitsWithoutPorts()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString work = folder.filePath(QStringLiteral("portless"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), work);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), work);
    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-2,1-3"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_PORTLESS"), QStringLiteral("1-1,1-3"));
    QProcess cli;
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(ZELUPDATE_CLI_SIM),
              {QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
               QStringLiteral("--all"), QStringLiteral("--json"), file(QStringLiteral("panel"))});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 4);
    bool parse = false;
    const QList<QJsonObject> events =
        jsonLines(QString::fromUtf8(cli.readAllStandardOutput()), parse);
    QVERIFY(parse);
    const QJsonArray units = events.last().value(QStringLiteral("units")).toArray();
    QStringList results;
    for (const QJsonValue &unit : units)
        results << QStringLiteral("%1 %2: %3")
                       .arg(unit[QStringLiteral("port")].toString(),
                            unit[QStringLiteral("serial")].toString(),
                            unit[QStringLiteral("result")].toString());
    const QString portless = QString::fromLatin1(kPortlessPanelText);
    QCOMPARE(results, (QStringList{QStringLiteral(" CP1000: ") + portless,
                                   QStringLiteral(" CP1002: ") + portless,
                                   QStringLiteral("1-2 CP1001: ") + kPanelUpdatedText}));
}

// What update --all hands each worker reaches it: a file named like an option stays a file,
// --allow-no-eof and the time-outs are passed on, and the summary table keeps each unit's serial
// number and the warnings its worker gave.
void CliTest::allUnitsHandOn()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString work = folder.filePath(QStringLiteral("hand-on"));
    QVERIFY(QDir().mkpath(work));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), work);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), work);
    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-2"));
    // Longer than the time-out handed on: every unit's update ends waiting for its return.
    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QStringLiteral("2500"));
    QList<QByteArray> lines = readFile(file(QStringLiteral("panel"))).split('\n');
    while (!lines.isEmpty() && !lines.last().startsWith(":0000000"))
        lines.removeLast();
    lines.removeLast(); // the end-of-file record
    const QString name = QStringLiteral("--json");
    QVERIFY(writeFile(work + QLatin1Char('/') + name, lines.join('\n') + '\n'));
    QProcess cli;
    cli.setProcessEnvironment(environment);
    cli.setWorkingDirectory(work);
    cli.start(QStringLiteral(ZELUPDATE_CLI_SIM),
              {QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
               QStringLiteral("--all"), QStringLiteral("--allow-no-eof"),
               QStringLiteral("--restart-timeout"), QStringLiteral("1"), QStringLiteral("--"),
               name});
    QVERIFY(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == 5, qPrintable(err));
    for (const QString &unit : {QStringLiteral("1-1 +CP1000"), QStringLiteral("1-2 +CP1001")})
        QVERIFY2(QRegularExpression(QStringLiteral("\n") + unit +
                                    QStringLiteral(" +failed \\(exit code 5\\): The ControlPanel "
                                                   ".* did not come back within 1 s .* / warning: "
                                                   "no end-of-file record"))
                     .match(out)
                     .hasMatch(),
                 qPrintable(out));
}

// update --each on one socket: a unit is updated as it is plugged in and not again while it stays,
// a failing one is told apart, and the end between units gives the tally.
void CliTest::eachUnit()
{
    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(0);
    simulated.injectFault(FaultTrigger::onCommand('R', 'r', 3).atPort("1-2"),
                          {FaultKind::CorruptReadBack, 5, 0x01});
    QByteArray firstFlash;
    int polls = 0;
    bool end = false;
    CliSetup setup;
    // Bounded, so that a run that never waits fails instead of hanging.
    int asked = 0;
    setup.endRequested = [&] { return end || ++asked > 50; };
    setup.pause = [&](int milliseconds) {
        if (milliseconds != kEachPollMs)
            return; // the sequence's own, while it follows a restart
        switch (++polls) {
        case 1:
            simulated.attachUnit("1-1", "CP1000");
            break;
        case 3: // it was seen still attached, once updated
            firstFlash = panelFlash();
            simulated.detachUnit("1-1");
            break;
        case 4:
            simulated.attachUnit("1-2", "CP2000");
            break;
        case 6:
            end = true;
            break;
        }
    };
    const CliRun run =
        runCli({QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
                QStringLiteral("--each"), file(QStringLiteral("panel"))},
               setup);
    QCOMPARE(run.code, 1);
    QVERIFY(firstFlash == panelImage);
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 5);
    const QString time = QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  ");
    QVERIFY2(QRegularExpression(time + QStringLiteral("1-1  CP1000  updated  \\d+\\.\\d s  "
                                                      "\\(1 updated, 0 failed\\)$"))
                 .match(lines[0])
                 .hasMatch(),
             qPrintable(lines[0]));
    QVERIFY2(
        QRegularExpression(time + QStringLiteral("1-2  CP2000  failed \\(exit code 1\\): .*"
                                                 "Address 0x000c5.* \\(1 updated, 1 failed\\)$"))
            .match(lines[1])
            .hasMatch(),
        qPrintable(lines[1]));
    QCOMPARE(lines.mid(2), (QStringList{"tally: 1 updated, 1 failed", "exit code: 1", ""}));
    QCOMPARE(polls, 6);
}

void CliTest::eachUnitTurns_data()
{
    // At each poll of --each, in order: "N attach PORT SERIAL", "N detach PORT", "N bootloader
    // PORT" (the unit there restarted into its bootloader), "N hold PORT" (another program takes
    // its lock), "N release PORT" (and ends its update without writing), "N clear" (no more
    // faults), "N end" (Ctrl-C).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("faultAt");     // the port whose fourth read-back comes back wrong
    QTest::addColumn<QStringList>("results"); // each unit's line, after its time
    QTest::addColumn<QStringList>("said");    // standard error holds each once, in order
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("untouched"); // the port of a unit whose flash stays erased

    const QString updated = QStringLiteral("updated  \\d+\\.\\d s  ");
    const QString failed = QStringLiteral("failed \\(exit code 1\\): .*");
    const QString waiting =
        QStringLiteral("The ControlPanel at USB port 1-1 is being updated by tst_cli (process %1): "
                       "waiting until that update has ended")
            .arg(QCoreApplication::applicationPid());
    const QString silent = QString(kEachSilentReturnText).arg(QStringLiteral("1-1"));

    QTest::newRow("held by another program: waited for, not failed")
        << QStringList{"1 attach 1-1 CP1000", "1 hold 1-1", "4 release 1-1", "6 end"} << ""
        << QStringList{"1-1  CP1000  " + updated + "\\(1 updated, 0 failed\\)"}
        << QStringList{waiting} << 0 << QStringList() << QString();
    // Its update gave up on it, and it came back in its bootloader: not a unit to update anew.
    QTest::newRow("failed, back in its bootloader: left until back in its application")
        << QStringList{"1 attach 1-1 CP1000", "3 detach 1-1", "4 attach 1-1 CP1000",
                       "4 bootloader 1-1",    "7 detach 1-1", "7 clear",
                       "8 attach 1-1 CP1000", "10 end"}
        << "1-1"
        << QStringList{"1-1  CP1000  " + failed + "\\(0 updated, 1 failed\\)",
                       "1-1  CP1000  " + updated + "\\(1 updated, 1 failed\\)"}
        << QStringList{silent} << 1 << QStringList() << QString();
    QTest::newRow("failed, then another unit at its port")
        << QStringList{"1 attach 1-1 CP1000", "3 detach 1-1", "3 clear", "3 attach 1-1 CP2000",
                       "5 end"}
        << "1-1"
        << QStringList{"1-1  CP1000  " + failed + "\\(0 updated, 1 failed\\)",
                       "1-1  CP2000  " + updated + "\\(1 updated, 1 failed\\)"}
        << QStringList() << 1 << QStringList() << QString();
    // --port names one socket exactly: a unit behind a hub plugged into it is not at that port.
    QTest::newRow("--port 1-1 never takes 1-1.2")
        << QStringList{"1 attach 1-1.2 CP3000", "3 attach 1-1 CP1000", "6 end"} << ""
        << QStringList{"1-1  CP1000  " + updated + "\\(1 updated, 0 failed\\)"} << QStringList()
        << 0 << QStringList{"--port", "1-1"} << "1-1.2";
}

// update --each and the units it cannot take at once: one another program holds, and one whose
// update failed here, until it is back in its application.

void CliTest::eachUnitTurns()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, faultAt);
    QFETCH(QStringList, results);
    QFETCH(QStringList, said);
    QFETCH(int, code);
    QFETCH(QStringList, options);
    QFETCH(QString, untouched);

    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(0);
    const auto injectFault = [&] {
        if (!faultAt.isEmpty())
            simulated.injectFault(
                FaultTrigger::onCommand('R', 'r', 3).atPort(faultAt.toStdString()),
                {FaultKind::CorruptReadBack, 5, 0x01});
    };
    injectFault();
    UnitLock other;
    int polls = 0;
    bool end = false;
    CliSetup setup;
    // Bounded, so that a run that never waits fails instead of hanging.
    int asked = 0;
    setup.endRequested = [&] { return end || ++asked > 100; };
    setup.pause = [&](int milliseconds) {
        if (milliseconds != kEachPollMs)
            return; // the sequence's own, while it follows a restart
        ++polls;
        for (const QString &step : qAsConst(steps)) {
            const QStringList words = step.split(QLatin1Char(' '));
            if (words[0].toInt() != polls)
                continue;
            const std::string port = words.value(2).toStdString();
            if (words[1] == QLatin1String("attach"))
                simulated.attachUnit(port, words[3].toStdString());
            else if (words[1] == QLatin1String("detach"))
                simulated.detachUnit(port);
            else if (words[1] == QLatin1String("bootloader"))
                simulated.setPanelState(sim::PanelState::Bootloader, simulated.unitIndex(port));
            else if (words[1] == QLatin1String("hold"))
                other.take(words[2], QStringLiteral("tst_cli"), QStringLiteral("panel"));
            else if (words[1] == QLatin1String("release"))
                other.release();
            else if (words[1] == QLatin1String("clear"))
                simulated.clearFaults();
            else if (words[1] == QLatin1String("end"))
                end = true;
        }
    };
    const CliRun run = runCli(QStringList{QStringLiteral("update"), QStringLiteral("--target"),
                                          QStringLiteral("panel"), QStringLiteral("--each"),
                                          file(QStringLiteral("panel"))} +
                                  options,
                              setup);
    other.release();

    QCOMPARE(run.code, code);
    QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.takeLast(), QStringLiteral("exit code: %1").arg(code));
    lines.removeLast(); // the tally
    QCOMPARE(lines.size(), results.size());
    for (int at = 0; at < results.size(); ++at)
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  ") +
                                    results[at] + QLatin1Char('$'))
                     .match(lines[at])
                     .hasMatch(),
                 qPrintable(lines[at]));
    int from = 0;
    for (const QString &text : said) {
        QCOMPARE(run.err.count(text), 1);
        QVERIFY2(run.err.indexOf(text, from) >= 0, qPrintable(run.err));
        from = run.err.indexOf(text, from);
    }
    QVERIFY2(end, "the run ended before its last step");
    // The last unit updated holds the image.
    const auto flashAt = [&simulated](const QString &port) {
        return QByteArray(reinterpret_cast<const char *>(
                              simulated.panelFlash(simulated.unitIndex(port.toStdString())).data()),
                          int(sim::kPanelFlashSize));
    };
    if (results.last().contains(QLatin1String("updated")))
        QVERIFY(flashAt(results.last().section(QLatin1Char(' '), 0, 0)) == panelImage);
    if (!untouched.isEmpty())
        QCOMPARE(flashAt(untouched), QByteArray(int(sim::kPanelFlashSize), '\xff'));
}

void CliTest::lockRefusals_data()
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
void CliTest::lockRefusals()
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

// Without a folder for lock files each update says so, but a run says it once, however many
// units it updates.
void CliTest::noLockFolderSaidOnce()
{
    QString out;
    QString err;
    QTextStream outStream(&out);
    QTextStream errStream(&err);
    CliStreams io(outStream, errStream, false);
    TextProgress view(errStream, false);
    TerminalHost first({}, io, view);
    TerminalHost second({}, io, view);
    first.lockFolderMissing();
    second.lockFolderMissing();
    errStream.flush();
    QCOMPARE(err, QStringLiteral("warning: %1\n").arg(kNoLockFolderText));
}

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
