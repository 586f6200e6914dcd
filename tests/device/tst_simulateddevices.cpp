// The simulated devices themselves, where the programmers' and sequences' tests would otherwise
// trust them blindly: their protocol, their restarts, their faults and hidapi's contract; and
// the files that keep their flash between runs of zelUpdate-sim.
#include "FlashFiles.h"
#include "SimulatedDevices.h"

#include <hidapi.h>
#include <sys/resource.h>

#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <string>
#include <vector>

using sim::Fault;
using sim::FaultKind;
using sim::FaultTrigger;
using sim::SimulatedDevices;

Q_DECLARE_METATYPE(sim::FaultKind)

namespace {

SimulatedDevices &devices()
{
    return SimulatedDevices::instance();
}

std::vector<std::string> violations;

void recordViolation(const char *what)
{
    violations.emplace_back(what);
}

// One report out, one reply in, straight through hidapi's functions.
struct Link
{
    hid_device *device = hid_open(0x03EB, 0x2402, nullptr);
    unsigned char report[65] = {};
    unsigned char reply[64] = {};

    int send(std::initializer_list<int> payload)
    {
        int i = 1;
        for (int byte : payload)
            report[i++] = static_cast<unsigned char>(byte);
        return hid_write(device, report, sizeof report);
    }
    int sendData(unsigned char fill)
    {
        std::memset(report + 1, fill, 64);
        return hid_write(device, report, sizeof report);
    }
    int read() { return hid_read_timeout(device, reply, sizeof reply, 4000); }
    bool echoed(char first, char second) const
    {
        return reply[0] == static_cast<unsigned char>(second) &&
               reply[1] == static_cast<unsigned char>(first);
    }
};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// One message a line, so that a failed comparison shows them all.
QString joined(const std::vector<std::string> &messages)
{
    QStringList lines;
    for (const std::string &message : messages)
        lines << QString::fromStdString(message);
    return lines.join('\n');
}

// Hidden entries too: a temporary file left behind shows.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

void ignoreReport(const std::string &)
{
}

} // namespace

class SimulatedDevicesTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        devices().reset();
        violations.clear();
        devices().setContractViolationHandler(recordViolation);
    }

    void panelRestartsIntoBootloaderAndBack();
    void restartLongerThanAWait();
    void panelBootloaderWritesReadsAndErases();
    void panelBootloaderRefuses_data();
    void panelBootloaderRefuses();
    void boardReachedThroughPanel();
    void boardRefusesItsBootloaderArea();
    void faultsStrikeTheChosenReport_data();
    void faultsStrikeTheChosenReport();
    void corruptionLandsInFlashOrReadBack();
    void contractBreaksAreLoud_data();
    void contractBreaksAreLoud();
    void flashPersistsAfterEachUpdate();
    void flashFileSetAside_data();
    void flashFileSetAside();
    void flashFolderUnwritable_data();
    void flashFolderUnwritable();
    void interruptedSaveKeepsOldFile_data();
    void interruptedSaveKeepsOldFile();
};

void SimulatedDevicesTest::panelRestartsIntoBootloaderAndBack()
{
    devices().setRestartTime(std::chrono::milliseconds(100));
    Link link;
    QVERIFY(link.device);
    QCOMPARE(link.send({'B', 'b'}), 65);
    // The echo was on its way before the restart.
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('B', 'b'));
    QCOMPARE(devices().panelState(), sim::PanelState::Restarting);
    QCOMPARE(link.send({'E', 'e'}), -1);
    QCOMPARE(link.read(), -1);
    QVERIFY(!hid_open(0x03EB, 0x2402, nullptr));
    hid_close(link.device);

    QTRY_COMPARE(devices().panelState(), sim::PanelState::Bootloader);
    Link boot;
    QVERIFY(boot.device);
    QCOMPARE(boot.send({'b', 'B'}), 65);
    QCOMPARE(boot.read(), 64);
    QVERIFY(boot.echoed('b', 'B'));
    QTRY_COMPARE(devices().panelState(), sim::PanelState::Application);
    QVERIFY(violations.empty());
}

void SimulatedDevicesTest::restartLongerThanAWait()
{
    devices().setRestartTime(std::chrono::milliseconds(60000));
    Link link;
    link.send({'B', 'b'});
    link.read();
    hid_close(link.device);
    hid_exit();
    QTest::qWait(50);
    QVERIFY(!hid_open(0x03EB, 0x2402, nullptr));
    QCOMPARE(devices().panelState(), sim::PanelState::Restarting);
}

void SimulatedDevicesTest::panelBootloaderWritesReadsAndErases()
{
    devices().setPanelState(sim::PanelState::Bootloader);
    devices().panelFlash().fill(0x00);
    Link link;
    link.send({'C', 'c'});
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('C', 'c'));

    // A row command clears four pages; a page command takes the next report as data.
    link.send({'X', 'x', 0, 0, 0x01, 0x00});
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('X', 'x'));
    link.send({'Y', 'y', 0, 0, 0x01, 0x40});
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('Y', 'y'));
    link.sendData(0x3C);
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed(0x3C, 0x3C));

    const auto &flash = devices().panelFlash();
    QCOMPARE(flash[0xFF], 0x00);
    QCOMPARE(flash[0x100], 0xFF);
    QCOMPARE(flash[0x13F], 0xFF);
    QCOMPARE(flash[0x140], 0x3C);
    QCOMPARE(flash[0x17F], 0x3C);
    QCOMPARE(flash[0x180], 0xFF);
    QCOMPARE(flash[0x1FF], 0xFF);
    QCOMPARE(flash[0x200], 0x00);

    link.send({'R', 'r', 0, 0, 0x01, 0x3F});
    QCOMPARE(link.read(), 64);
    QCOMPARE(link.reply[0], 0xFF);
    QCOMPARE(link.reply[1], 0x3C);
    QCOMPARE(link.reply[63], 0x3C);
}

void SimulatedDevicesTest::panelBootloaderRefuses_data()
{
    QTest::addColumn<bool>("started");
    QTest::addColumn<QByteArray>("command");
    QTest::newRow("page before start") << false << QByteArray("Yy\0\0\0\0", 6);
    QTest::newRow("row before start") << false << QByteArray("Xx\0\0\0\0", 6);
    QTest::newRow("page in bootloader area") << true << QByteArray("Yy\0\x03\xFC\x40", 6);
    QTest::newRow("unaligned page") << true << QByteArray("Yy\0\0\0\x10", 6);
    QTest::newRow("unaligned row") << true << QByteArray("Xx\0\0\0\x40", 6);
    QTest::newRow("unknown letters") << true << QByteArray("Zz", 2);
}

void SimulatedDevicesTest::panelBootloaderRefuses()
{
    QFETCH(bool, started);
    QFETCH(QByteArray, command);
    devices().setPanelState(sim::PanelState::Bootloader);
    Link link;
    if (started) {
        link.send({'C', 'c'});
        link.read();
    }
    std::memcpy(link.report + 1, command.constData(), command.size());
    QCOMPARE(hid_write(link.device, link.report, 65), 65);
    QCOMPARE(link.read(), 64);
    QVERIFY(!link.echoed(command[0], command[1]));
}

void SimulatedDevicesTest::boardReachedThroughPanel()
{
    devices().setBoardEntryTime(std::chrono::milliseconds(100));
    Link link;
    link.send({'K', 'k'});
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('K', 'k'));
    // Until the board's bootloader runs, a relayed report goes unanswered.
    link.send({'C', 'c'});
    QCOMPARE(link.read(), 0);
    QTRY_COMPARE(devices().boardState(), sim::BoardState::Bootloader);

    link.send({'C', 'c'});
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('C', 'c'));
    link.send({'L', 'l', 0x00, 0x80});
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('L', 'l'));
    link.send({'M', 'm'});
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('M', 'm'));
    link.sendData(0x11);
    QCOMPARE(link.read(), 64);
    link.sendData(0x22);
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('M', 'm'));
    QCOMPARE(devices().boardFlash()[0x7F], 0xFF);
    QCOMPARE(devices().boardFlash()[0x80], 0x11);
    QCOMPARE(devices().boardFlash()[0xC0], 0x22);
    QCOMPARE(devices().boardFlash()[0x100], 0xFF);

    link.send({'L', 'l', 0x00, 0x80});
    link.read();
    link.send({'N', 'n'});
    QCOMPARE(link.read(), 64);
    QCOMPARE(link.reply[0], 0x11);
    QCOMPARE(link.reply[63], 0x11);
    QCOMPARE(link.read(), 64);
    QCOMPARE(link.reply[0], 0x22);

    link.send({'O', 'o'});
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('O', 'o'));
    QCOMPARE(devices().boardState(), sim::BoardState::Application);
    // The ControlPanel answers for itself again.
    link.send({'E', 'e'});
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('E', 'e'));
}

void SimulatedDevicesTest::boardRefusesItsBootloaderArea()
{
    devices().enterBoardBootloader();
    Link link;
    link.send({'L', 'l', 0x7E, 0x00});
    link.read();
    link.send({'M', 'm'});
    link.read();
    link.sendData(0x00);
    link.read();
    link.sendData(0x00);
    QCOMPARE(link.read(), 64);
    QVERIFY(!link.echoed('M', 'm'));
    QCOMPARE(devices().boardFlash()[0x7E00], 0xFF);
}

void SimulatedDevicesTest::faultsStrikeTheChosenReport_data()
{
    QTest::addColumn<bool>("byLetters");
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<int>("written");  // what the third hid_write returns
    QTest::addColumn<int>("received"); // what the read after it returns
    QTest::addColumn<bool>("echoed");
    QTest::addColumn<int>("nextReceived"); // what one more read returns

    for (bool byLetters : {false, true}) {
        const char *how = byLetters ? "by letters" : "by index";
        auto row = [&](const char *name) {
            return &(QTest::newRow(qPrintable(QString("%1 %2").arg(name, how))) << byLetters);
        };
        *row("none") << FaultKind(-1) << 65 << 64 << true << 0;
        *row("no reply") << FaultKind::NoReply << 65 << 0 << false << 0;
        *row("late reply") << FaultKind::LateReply << 65 << 0 << false << 64;
        *row("short reply") << FaultKind::ShortReply << 65 << 32 << true << 0;
        *row("wrong echo") << FaultKind::WrongEcho << 65 << 64 << false << 0;
        *row("failed write") << FaultKind::FailedWrite << -1 << 0 << false << 0;
        *row("short write") << FaultKind::ShortWrite << 32 << 0 << false << 0;
    }
}

void SimulatedDevicesTest::faultsStrikeTheChosenReport()
{
    QFETCH(bool, byLetters);
    QFETCH(FaultKind, kind);
    QFETCH(int, written);
    QFETCH(int, received);
    QFETCH(bool, echoed);
    QFETCH(int, nextReceived);

    // The fault is meant for the second 'E','e', the third report; the others pass untouched.
    if (int(kind) >= 0)
        devices().injectFault(byLetters ? FaultTrigger::onCommand('E', 'e', 1)
                                        : FaultTrigger::atReport(2),
                              Fault{kind});
    Link link;
    link.send({'E', 'e'});
    QCOMPARE(link.read(), 64);
    link.send({'Q', 'q'});
    QCOMPARE(link.read(), 64);
    std::memset(link.reply, 0, sizeof link.reply);
    QCOMPARE(link.send({'E', 'e'}), written);
    QCOMPARE(link.read(), received);
    QCOMPARE(link.echoed('E', 'e'), echoed);
    QCOMPARE(link.read(), nextReceived);
    if (nextReceived)
        QVERIFY(link.echoed('E', 'e'));
    link.send({'E', 'e'});
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('E', 'e'));
    QCOMPARE(devices().reportCount(), 4);
}

void SimulatedDevicesTest::corruptionLandsInFlashOrReadBack()
{
    devices().setPanelState(sim::PanelState::Bootloader);
    devices().injectFault(FaultTrigger::atReport(2), Fault{FaultKind::CorruptFlash, 5});
    devices().injectFault(FaultTrigger::onCommand('R', 'r', 1),
                          Fault{FaultKind::CorruptReadBack, 9});
    Link link;
    link.send({'C', 'c'});
    link.read();
    link.send({'Y', 'y', 0, 0, 0, 0});
    link.read();
    link.sendData(0x40);
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed(0x40, 0x40));
    QCOMPARE(devices().panelFlash()[4], 0x40);
    QCOMPARE(devices().panelFlash()[5], 0x41);

    link.send({'R', 'r', 0, 0, 0, 0});
    link.read();
    QCOMPARE(link.reply[5], 0x41);
    QCOMPARE(link.reply[9], 0x40);
    link.send({'R', 'r', 0, 0, 0, 0});
    link.read();
    QCOMPARE(link.reply[9], 0x41);
    QCOMPARE(devices().panelFlash()[9], 0x40);
}

void SimulatedDevicesTest::contractBreaksAreLoud_data()
{
    QTest::addColumn<int>("breach");
    QTest::newRow("write after hid_close") << 0;
    QTest::newRow("read after hid_exit") << 1;
    QTest::newRow("close after hid_exit") << 2;
    QTest::newRow("write without report id") << 3;
    QTest::newRow("read shorter than a report") << 4;
    QTest::newRow("handle never opened") << 5;
}

void SimulatedDevicesTest::contractBreaksAreLoud()
{
    QFETCH(int, breach);
    Link link;
    unsigned char buffer[65] = {};
    int result = 0;
    switch (breach) {
    case 0:
        hid_close(link.device);
        result = hid_write(link.device, buffer, 65);
        break;
    case 1:
        hid_exit();
        result = hid_read_timeout(link.device, buffer, 64, 4000);
        break;
    case 2:
        hid_exit();
        hid_close(link.device);
        break;
    case 3:
        buffer[0] = 'E';
        result = hid_write(link.device, buffer, 65);
        break;
    case 4:
        link.send({'E', 'e'});
        result = hid_read_timeout(link.device, buffer, 32, 4000);
        break;
    case 5:
        result = hid_write(reinterpret_cast<hid_device *>(buffer), buffer, 65);
        break;
    }
    QCOMPARE(violations.size(), std::size_t(1));
    if (breach != 2)
        QCOMPARE(result, -1);
}

void SimulatedDevicesTest::flashPersistsAfterEachUpdate()
{
    QTemporaryDir top;
    const QString folder = top.filePath("data/zelUpdate-sim");
    {
        sim::FlashFiles files(devices(), folder.toStdString());
        QCOMPARE(joined(files.load()), QString());
        files.saveAfterEachUpdate(ignoreReport);
        devices().panelFlash()[0x3FC17] = 0x12;
        devices().boardFlash()[0x7DFF] = 0x34;
        QVERIFY(!QFileInfo::exists(folder + "/controlpanel.bin"));
        hid_exit(); // as the program does at the end of an update
    }
    QCOMPARE(entries(folder), (QStringList{"controlboard.bin", "controlpanel.bin"}));
    QCOMPARE(QFileInfo(folder + "/controlpanel.bin").size(), 262144);
    // The hook left with the files.
    devices().boardFlash()[0x7DFF] = 0x00;
    hid_exit();
    QCOMPARE(readFile(folder + "/controlboard.bin").at(0x7DFF), '\x34');

    devices().reset();
    devices().panelFlash().fill(0x00); // loading replaces every byte
    sim::FlashFiles files(devices(), folder.toStdString());
    QCOMPARE(joined(files.load()), QString());
    QCOMPARE(devices().panelFlash()[0x3FC17], 0x12);
    QCOMPARE(devices().panelFlash()[0x3FC16], 0xFF);
    QCOMPARE(devices().boardFlash()[0x7DFF], 0x34);
}

void SimulatedDevicesTest::flashFileSetAside_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("contents"); // null: a folder stands at the file's place
    QTest::addColumn<QString>("problem");

    QTest::newRow("board file too short")
        << "controlboard.bin" << QByteArray(2, '\x00')
        << "holds 2 bytes, not the 32768 of the control board's flash: the control board";
    QTest::newRow("panel file too long")
        << "controlpanel.bin" << QByteArray(262145, '\x55')
        << "holds 262145 bytes, not the 262144 of the ControlPanel's flash: the ControlPanel";
    QTest::newRow("folder at the panel file's place")
        << "controlpanel.bin" << QByteArray() << "is not a regular file: the ControlPanel";
}

void SimulatedDevicesTest::flashFileSetAside()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, contents);
    QFETCH(QString, problem);

    QTemporaryDir folder;
    const QString path = folder.filePath(name);
    QVERIFY(contents.isNull() ? QDir(folder.path()).mkdir(name) : writeFile(path, contents));
    const bool panelAside = name == "controlpanel.bin";
    devices().panelFlash().fill(0x00);
    devices().boardFlash().fill(0x00);
    sim::FlashFiles files(devices(), folder.path().toStdString());
    QCOMPARE(joined(files.load()),
             path + ' ' + problem + " starts erased, and the file is left as it is");
    QCOMPARE(panelAside ? devices().panelFlash()[5] : devices().boardFlash()[5], 0xFF);

    devices().panelFlash()[5] = 0x11;
    devices().boardFlash()[5] = 0x11;
    std::vector<std::string> messages;
    QVERIFY(!files.save(messages));
    QCOMPARE(joined(messages), "not saved: " + path + ' ' + problem.section(':', 0, 0));
    QCOMPARE(QFileInfo(path).isDir() ? QByteArray() : readFile(path), contents);
    // The other device's file is saved as usual.
    const QString other = panelAside ? "controlboard.bin" : "controlpanel.bin";
    QCOMPARE(readFile(folder.filePath(other)).at(5), '\x11');
}

void SimulatedDevicesTest::flashFolderUnwritable_data()
{
    QTest::addColumn<QString>("folder"); // <file> stands for a regular file's path
    QTest::addColumn<QString>("problem");

    // Both refuse root too.
    QTest::newRow("parent is a file") << "<file>/sim"
                                      << "cannot create <file>/sim: Not a directory";
    QTest::newRow("read-only file system") << "/proc"
                                           << "cannot write in /proc: ";
}

void SimulatedDevicesTest::flashFolderUnwritable()
{
    QFETCH(QString, folder);
    QFETCH(QString, problem);
    QTemporaryFile file;
    QVERIFY(file.open());
    folder.replace("<file>", file.fileName());

    sim::FlashFiles files(devices(), folder.toStdString());
    const QString problems = joined(files.load());
    QVERIFY2(problems.startsWith(problem.replace("<file>", file.fileName())), qPrintable(problems));
    std::vector<std::string> messages;
    QVERIFY(files.save(messages));
    QCOMPARE(messages.size(), std::size_t(2));
    QVERIFY(joined(messages).startsWith("cannot save " + folder + "/controlpanel.bin: "));
}

void SimulatedDevicesTest::interruptedSaveKeepsOldFile_data()
{
    QTest::addColumn<bool>("renameRefused");
    // A size limit under the panel's 262,144 bytes stops its save in the middle of the write.
    QTest::newRow("write cut short") << false;
    // A folder at the file's place: the temporary file is written whole but cannot replace it.
    QTest::newRow("rename refused") << true;
}

void SimulatedDevicesTest::interruptedSaveKeepsOldFile()
{
    QFETCH(bool, renameRefused);
    QTemporaryDir folder;
    const QString panelFile = folder.filePath("controlpanel.bin");
    sim::FlashFiles files(devices(), folder.path().toStdString());
    QCOMPARE(joined(files.load()), QString());
    devices().panelFlash()[7] = 0x01;
    std::vector<std::string> messages;
    QVERIFY(!files.save(messages));
    const QByteArray oldPanel = readFile(panelFile);
    if (renameRefused)
        QVERIFY(QFile::remove(panelFile) && QDir(folder.path()).mkpath("controlpanel.bin/kept"));

    devices().panelFlash()[7] = 0x02;
    devices().boardFlash()[7] = 0x02;
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit unlimited = limit;
    limit.rlim_cur = renameRefused ? limit.rlim_cur : 100000;
    std::signal(SIGXFSZ, SIG_IGN); // past the limit write() fails instead of killing the process
    setrlimit(RLIMIT_FSIZE, &limit);
    const bool failed = files.save(messages);
    setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, SIG_DFL);

    QVERIFY(failed);
    QVERIFY(joined(messages).startsWith("cannot save " + panelFile + ": "));
    if (renameRefused)
        QCOMPARE(entries(panelFile), QStringList{"kept"});
    else
        QCOMPARE(readFile(panelFile), oldPanel);
    QCOMPARE(readFile(folder.filePath("controlboard.bin")).at(7), '\x02');
    QCOMPARE(entries(folder.path()), (QStringList{"controlboard.bin", "controlpanel.bin"}));
}

QTEST_GUILESS_MAIN(SimulatedDevicesTest)
#include "tst_simulateddevices.moc"
