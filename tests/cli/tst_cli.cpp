// zelupdate-cli's commands run in this process against the simulated devices, with instant
// restarts and no latency; the waits are recorded, not slept. Every case checks the exit status
// and the exact texts a script or a technician would read.

#include "CliRun.h"
#include "ExitCodes.h"
#include "HexFileCheck.h"
#include "ProbeTexts.h"
#include "SimulatedDevices.h"
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

#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

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
    void allUnitsTerminated();
    void eachUnit();

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
    // The sequence adds to the history; never to the user's own.
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());

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

    const QStringList none;
    const int open = int(PanelAccess::Open);
    const int noReply = int(FaultKind::NoReply);
    const QString error = QString::fromLatin1(kErrorPrefix);
    const QString noPanel = QStringLiteral("%1\n%2\n").arg(kNoPanelText, kNoPanelAdvice);

    QTest::newRow("panel updated") << "panel"
                                   << "panel" << none << 1 << open << QByteArray() << 0 << 0 << 0
                                   << 0 << QString(kPanelUpdatedText) + '\n'
                                   << true << "panel" << QString();
    QTest::newRow("board updated") << "board"
                                   << "board" << none << 1 << open << QByteArray() << 0 << 0 << 0
                                   << 0 << QString(kBoardUpdatedText) + '\n'
                                   << true << "board" << QString();
    QTest::newRow("no device") << "board"
                               << "board" << none << 0 << open << QByteArray() << 0 << 0 << 0 << 4
                               << noPanel << false << "" << QString();
    QTest::newRow("two devices")
        << "panel"
        << "panel" << none << 2 << open << QByteArray() << 0 << 0 << 0 << 4
        << QStringLiteral("2 ControlPanels are attached (1-1, 1-2): choose one with --port\n")
        << false << "" << QString();
    QTest::newRow("no permission")
        << "board"
        << "board" << none << 1 << int(PanelAccess::NoPermission) << QByteArray() << 0 << 0 << 0
        << 4
        << noPanel + QStringLiteral("\n%1 (ZEL ControlPanel), serial number CP1000: %2.\n%3\n")
                         .arg(QString::fromStdString(SimulatedDevices::panelPath(0)),
                              kNoPermissionText, kNoPermissionAdvice)
        << false << "" << QString();
    QTest::newRow("busy") << "panel"
                          << "panel" << none << 1 << int(PanelAccess::Busy) << QByteArray() << 0
                          << 0 << 0 << 4
                          << QStringLiteral(": %1.\n%2\n").arg(kBusyText, kBusyAdvice) << false
                          << "" << QString();
    QTest::newRow("check not echoed")
        << "board"
        << "board" << none << 1 << open << QByteArray("Ee") << 0 << int(FaultKind::WrongEcho) << 0
        << 5 << QString(kNoConnectionError) + '\n'
        << true << "" << QString();
    QTest::newRow("panel entry not echoed")
        << "panel"
        << "panel" << none << 1 << open << QByteArray("Bb") << 0 << noReply << 0 << 5
        << error + kBootloaderEntryError + '\n'
        << true << "" << QString();
    QTest::newRow("board entry not echoed")
        << "board"
        << "board" << none << 1 << open << QByteArray("Kk") << 0 << int(FaultKind::WrongEcho) << 0
        << 5 << error + kBootloaderEntryError + '\n'
        << true << "" << QString();
    // The unit is followed at its port for as long as --restart-timeout allows.
    QTest::newRow("panel not back")
        << "panel"
        << "panel" << QStringList{QStringLiteral("--restart-timeout"), QStringLiteral("1")} << 1
        << open << QByteArray() << 0 << 0 << 60000 << 5
        << QString(kNotBackInBootloaderText).arg(QStringLiteral("1-1")).arg(1) + '\n'
        << true << "" << QString();
    QTest::newRow("board start not echoed")
        << "board"
        << "board" << none << 1 << open << QByteArray("Cc") << 0 << noReply << 0 << 5
        << error + kBootloaderStartError + '\n'
        << true << "" << QString();
    QTest::newRow("panel programming not started")
        << "panel"
        << "panel" << none << 1 << open << QByteArray("Cc") << 0 << noReply << 0 << 5
        << error + kUsbError + '\n'
        << true << "" << QString();
    QTest::newRow("board write fails mid-walk")
        << "board"
        << "board" << none << 1 << open << QByteArray("Mm") << 40 << noReply << 0 << 1
        << error + kProgrammingError + '\n'
        << true << "" << QString();
    QTest::newRow("panel write fails mid-walk")
        << "panel"
        << "panel" << none << 1 << open << QByteArray("Yy") << 500 << int(FaultKind::FailedWrite)
        << 0 << 1 << error + kProgrammingError + '\n'
        << true << "" << QString();
    QTest::newRow("panel read-back fails")
        << "panel"
        << "panel" << none << 1 << open << QByteArray("Rr") << 100 << noReply << 0 << 1
        << error + kVerificationError + '\n'
        << true << "" << QString();
    // The eleventh page of the board's example, 0x500, comes back with byte 5 flipped.
    QTest::newRow("board read-back differs")
        << "board"
        << "board" << none << 1 << open << QByteArray("Nn") << 10 << int(FaultKind::CorruptReadBack)
        << 0 << 1 << error + "\nError: Address 0x00505" << true << "" << QString();
    // Written and verified, but the control board may still run its bootloader.
    QTest::newRow("board boot exit fails")
        << "board"
        << "board" << none << 1 << open << QByteArray("Oo") << 0 << noReply << 0 << 6
        << QString(kBoardExitNotConfirmedText).arg(QStringLiteral("1-1")) + '\n'
        << true << "board" << QString();
    QTest::newRow("panel exit not echoed")
        << "panel"
        << "panel" << none << 1 << open << QByteArray("bB") << 0 << int(FaultKind::WrongEcho) << 0
        << 6 << QString(kExitNotConfirmedText).arg(QStringLiteral("1-1")) + '\n'
        << true << "panel" << QString();
    QTest::newRow("refused file") << "board"
                                  << "damaged" << none << 1 << open << QByteArray() << 0 << 0 << 0
                                  << 3 << "%1: Checksum Error line 100. " << false << ""
                                  << QString();
    QTest::newRow("missing file") << "panel"
                                  << "missing" << none << 1 << open << QByteArray() << 0 << 0 << 0
                                  << 3 << "%1: Error: Can't open hex file\n"
                                  << false << "" << QString();
    QTest::newRow("no end-of-file record")
        << "board"
        << "noeof" << none << 1 << open << QByteArray() << 0 << 0 << 0 << 3
        << "%1: no end-of-file record after 768 lines; the file may have been cut short "
           "(--allow-no-eof to write it anyway)\n"
        << false << "" << QString();
    QTest::newRow("no end-of-file record allowed")
        << "board"
        << "noeof" << QStringList{QStringLiteral("--allow-no-eof")} << 1 << open << QByteArray()
        << 0 << 0 << 0 << 0 << QStringLiteral("warning: %1\n").arg(kNoEndRecordWarning) << true
        << "board" << QString();
    // What was checked is what is written: the file is read once.
    QTest::newRow("board file cut short during the wait")
        << "board"
        << "changing" << none << 1 << open << QByteArray() << 0 << 0 << 0 << 0
        << QString(kBoardUpdatedText) + '\n'
        << true << "board"
        << "cut";
    QTest::newRow("panel file damaged during the wait")
        << "panel"
        << "changing" << none << 1 << open << QByteArray() << 0 << 0 << 0 << 0
        << QString(kPanelUpdatedText) + '\n'
        << true << "panel"
        << "damaged";
    // A name is escaped wherever it is shown: it forges no line and moves no cursor.
    QTest::newRow("name forging a line")
        << "board" << kForgingName << none << 1 << open << QByteArray() << 0 << 0 << 0 << 0
        << QStringLiteral("with %1/%2.hex\n").arg(folder.path(), kForgingShown) << true << "board"
        << QString();
    QTest::newRow("name forging a line, refused")
        << "board" << kForgingName + QStringLiteral("-damaged") << none << 1 << open << QByteArray()
        << 0 << 0 << 0 << 3
        << QStringLiteral("%1/%2-damaged.hex: Checksum Error line 100.")
               .arg(folder.path(), kForgingShown)
        << false << "" << QString();
    // The name reaches open() byte for byte.
    QTest::newRow("name not UTF-8")
        << "board" << kNotUtf8Name << none << 1 << open << QByteArray() << 0 << 0 << 0 << 0
        << QStringLiteral("with %1/board-\\xe5\\xff.hex\n").arg(folder.path()) << true << "board"
        << QString();
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
        << "--restart-timeout needs a number of seconds, not '0'";
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
        << QString(kErrorPrefix) + kProgrammingError + '\n' + kBoardLeftInBootloaderText;
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
        QCOMPARE(event, QStringLiteral("progress"));
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
    // Listing never talks to a device.
    QCOMPARE(simulated.reportCount(), 0);

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
        QStringLiteral("file: %1\ntarget: %2 (%3)\nused pages: %4 of %5 (%6 bytes each)\n"
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
        QVERIFY2(run.out.startsWith(QStringLiteral("file: %1\n").arg(shownPath)),
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

    const int open = int(PanelAccess::Open);
    QTest::newRow("already attached") << 1 << open << -1 << 0 << 0 << kBoardUpdatedText;
    QTest::newRow("plugged in") << 0 << open << 3 << 0 << 3 << kBoardUpdatedText;
    QTest::newRow("opens once udev lets it")
        << 1 << int(PanelAccess::NoPermission) << 2 << 0 << 2 << kBoardUpdatedText;
    QTest::newRow("never comes") << 0 << open << -1 << 4 << 8 << kNoPanelText;
    QTest::newRow("two attached") << 2 << open << -1 << 4 << 0 << kSeveralPanelsText;
}

void CliTest::waitForPanel()
{
    QFETCH(int, devices);
    QFETCH(int, access);
    QFETCH(int, changeAtPoll);
    QFETCH(int, code);
    QFETCH(int, polls);
    QFETCH(QString, message);

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
                QStringLiteral("--wait"), QStringLiteral("2"), file(QStringLiteral("board"))},
               setup);
    QCOMPARE(run.code, code);
    QVERIFY2(run.err.contains(message + '\n'), qPrintable(run.err));
    QVERIFY(run.err.contains(QStringLiteral("Waiting up to 2 s for one ControlPanel\n")));
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
}

void CliTest::historyReadErrors()
{
    QFETCH(QString, linkTo);

    const QString path = historyPath();
    removeHistory();
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
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
}

void CliTest::historyNotWritten()
{
    QFETCH(QString, blocking);
    QFETCH(QString, warning);

    const QString state = folder.filePath(QStringLiteral("blocked-") + blocking);
    if (blocking == QLatin1String("file")) {
        QVERIFY(writeFile(state, "x"));
    } else {
        QVERIFY(QDir().mkpath(state + QStringLiteral("/zelUpdate")));
        QCOMPARE(
            ::mkfifo(QFile::encodeName(state + QStringLiteral("/zelUpdate/history.tsv")), 0600), 0);
    }
    qputenv("XDG_STATE_HOME", state.toUtf8());
    const CliRun run = runCli({QStringLiteral("update"), QStringLiteral("--target"),
                               QStringLiteral("board"), file(QStringLiteral("board"))});
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    QCOMPARE(run.code, 0);
    QVERIFY2(run.err.contains(QStringLiteral("warning: update history not written: ") +
                              warning.arg(state) + '\n'),
             qPrintable(run.err));
    QVERIFY(boardFlash() == boardImage);
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
                          << false << QString() << 0 << measured << "Ee*200" << 0;
    QTest::newRow("restart, as text")
        << QStringList{"--restart", "--yes"} << 1 << false << QString() << QByteArray() << none << 0
        << normal << false << QString() << 0 << "Restarting it into its application\n"
        << trip << -1;
    QTest::newRow("restart, confirmed")
        << QStringList{"--restart", "--json"} << 1 << true << "y" << QByteArray() << none << 0
        << normal << false << QString() << 0 << "Go on? [y/N] " << trip << 0;
    QTest::newRow("restart, refused")
        << QStringList{"--restart", "--json"} << 1 << true << "yess" << QByteArray() << none << 0
        << normal << false << QString() << 2 << QString(kProbeRestartRefusedText).arg(port) << ""
        << -1;
    QTest::newRow("restart, no terminal")
        << QStringList{"--restart"} << 1 << false << "y" << QByteArray() << none << 0 << normal
        << false << QString() << 2 << "add --yes to restart it without asking\n"
        << "" << -1;
    QTest::newRow("one check lost")
        << json << 1 << false << QString() << QByteArray("Ee") << QList<int>{17} << echo << normal
        << false << QString() << 0 << measured << "Ee*200" << 1;
    QTest::newRow("no check answered")
        << restart << 1 << false << QString() << QByteArray("Ee") << QList<int>{0, 1, 2} << noReply
        << normal << false << QString() << 5 << QString(kProbeNotAnsweringText).arg(port) << "Ee*3"
        << 3;
    QTest::newRow("answers stop") << json << 1 << false << QString() << QByteArray("Ee")
                                  << QList<int>{50, 51, 52} << noReply << normal << false
                                  << QString() << 5
                                  << QString(kProbeStoppedAnsweringText).arg(port).arg(50)
                                  << "Ee*53" << 3;
    QTest::newRow("never leaves") << restart << 1 << false << QString() << QByteArray() << none << 0
                                  << int(RestartQuirk::StaysOnBus) << false << QString() << 5
                                  << QString(kProbeNeverLeftText).arg(port).arg(5) << "Ee*200 Bb"
                                  << 0;
    QTest::newRow("never returns")
        << restart + QStringList{"--restart-timeout", "1"} << 1 << false << QString()
        << QByteArray() << none << 0 << int(RestartQuirk::NeverReturns) << false << QString() << 5
        << QString(kProbeNotBackInBootloaderText).arg(port).arg(1) << "Ee*200 Bb" << 0;
    // The unit restarted all the same, and is brought back before the fault is told.
    QTest::newRow("entry not echoed")
        << restart << 1 << false << QString() << QByteArray("Bb") << QList<int>{0} << echo << normal
        << false << QString() << 5 << QString(kProbeEntryUnconfirmedRestartText).arg(port) << trip
        << 0;
    QTest::newRow("exit not echoed")
        << restart << 1 << false << QString() << QByteArray("bB") << QList<int>{0} << echo << normal
        << false << QString() << 5 << QString(kProbeExitUnconfirmedRestartText).arg(port) << trip
        << 0;
    QTest::newRow("silent after the return")
        << restart << 1 << false << QString() << QByteArray("Ee") << QList<int>{200} << noReply
        << normal << false << QString() << 5 << QString(kProbeSilentAfterReturnText).arg(port)
        << trip << 0;
    QTest::newRow("two units") << restart << 2 << false << QString() << QByteArray() << none << 0
                               << normal << false << QString() << 4
                               << "2 ControlPanels are attached (1-1, 1-2): choose one with --port"
                               << "" << -1;
    QTest::newRow("the second of two")
        << restart + QStringList{"--port", "1-2"} << 2 << false << QString() << QByteArray() << none
        << 0 << normal << false << QString() << 0 << "at USB port 1-2: 200"
        << "1:Ee*200 1:Bb 1:bB 1:Ee" << 0;
    QTest::newRow("back at another port")
        << restart + QStringList{"--restart-timeout", "1"} << 1 << false << QString()
        << QByteArray() << none << 0 << int(RestartQuirk::NeverReturns) << false << "1-2" << 5
        << QString(kProbeBackElsewhereText).arg(port).arg(1).arg(QStringLiteral("1-2"))
        << "Ee*200 Bb" << 0;
    QTest::newRow("held by another program") << restart << 1 << false << QString() << QByteArray()
                                             << none << 0 << normal << true << QString() << 4
                                             << QString(kUnitBusyDetail)
                                                    .arg(port, QStringLiteral("zelUpdate"))
                                                    .arg(QCoreApplication::applicationPid())
                                             << "" << -1;
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
    QTest::newRow("its own result")
        << writing +
               QStringLiteral("echo '{\"event\":\"result\",\"result\":\"not back\",\"seconds\":2}'"
                              "; exit 6")
        << 6 << "not back";
    // Cut in the middle of a write, it may have left the firmware incomplete.
    QTest::newRow("killed while writing")
        << writing + QStringLiteral("kill -9 $$") << 1
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
    worker.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, QString());
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

// A SIGTERM sent to update --all alone reaches every unit's update, each stops at a page as a
// single update does, and the program outlives them to sum them up.
void CliTest::allUnitsTerminated()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"),
                       folder.filePath(QStringLiteral("term")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), folder.filePath(QStringLiteral("term")));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-2"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QStringLiteral("100"));
    QProcess cli;
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(ZELUPDATE_CLI_SIM),
              {QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
               QStringLiteral("--all"), QStringLiteral("--json"), file(QStringLiteral("panel"))});
    QByteArray out;
    while (out.count("\"phase\":\"writing\"") < 2 && cli.waitForReadyRead(30000))
        out += cli.readAllStandardOutput();
    QCOMPARE(out.count("\"phase\":\"writing\""), 2);
    cli.terminate();
    QVERIFY(cli.waitForFinished(60000));
    out += cli.readAllStandardOutput();
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 1);
    bool parse = false;
    const QList<QJsonObject> events = jsonLines(QString::fromUtf8(out), parse);
    QVERIFY(parse);
    const QJsonArray units = events.last().value(QStringLiteral("units")).toArray();
    QCOMPARE(units.size(), 2);
    for (const QJsonValue &unit : units) {
        QCOMPARE(unit.toObject().value(QStringLiteral("exitCode")).toInt(), 1);
        QVERIFY2(unit.toObject()
                     .value(QStringLiteral("result"))
                     .toString()
                     .contains(QStringLiteral("Interrupted")),
                 qPrintable(unit.toObject().value(QStringLiteral("result")).toString()));
    }
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

QTEST_GUILESS_MAIN(CliTest)
#include "tst_cli.moc"
