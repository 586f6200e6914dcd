// The simulated devices themselves, where the programmers' and sequences' tests would otherwise
// trust them blindly: their protocol, their restarts, their faults and hidapi's contract; their
// units by USB port; and the files that keep each unit's flash and state between runs of the
// -sim programs, and the variables that set those programs up.
#include "DemoDevices.h"
#include "SimulatedDevices.h"
#include "TestFiles.h"
#include "UnitFiles.h"
#include "UsbPort.h"

#include <hidapi.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QtTest>

#include <csignal>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using sim::Fault;
using sim::FaultKind;
using sim::FaultTrigger;
using sim::SimulatedDevices;

Q_DECLARE_METATYPE(sim::FaultKind)
Q_DECLARE_METATYPE(sim::RestartQuirk)
Q_DECLARE_METATYPE(sim::PanelState)
Q_DECLARE_METATYPE(sim::UnitState)

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

// One message a line, the folder's first, so that a failed comparison shows them all.
QString joined(const sim::UnitFilesProblems &problems)
{
    QStringList lines;
    if (!problems.folder.empty())
        lines << QString::fromStdString(problems.folder);
    for (const std::string &message : problems.files)
        lines << QString::fromStdString(message);
    return lines.join('\n');
}

// Hidden entries too: a temporary file left behind shows.
QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// The ports of what hid_enumerate lists, as usbPortOf() answers for each node, and their serial
// numbers.
void enumerated(QStringList &ports, QStringList &serials)
{
    hid_device_info *all = hid_enumerate(0x03EB, 0x2402);
    for (hid_device_info *info = all; info; info = info->next) {
        ports << QString::fromStdString(usbPortOf(info->path));
        serials << QString::fromWCharArray(info->serial_number);
    }
    hid_free_enumeration(all);
}

QByteArray erased(int size)
{
    return QByteArray(size, '\xFF');
}

struct RecordedState
{
    std::string port;
    sim::UnitState state;
};
std::vector<RecordedState> recordedStates;

void recordState(void *, const std::string &port, sim::UnitState state)
{
    recordedStates.push_back({port, state});
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
        recordedStates.clear();
        devices().setContractViolationHandler(recordViolation);
        devices().setUnitStateHook(recordState, nullptr);
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
    void hidApiContract_data();
    void hidApiContract();
    void unitsEnumerateByPort_data();
    void unitsEnumerateByPort();
    void detachedUnitFailsLikeVanished();
    void unitsKeepTheirOwnFlashBoardAndFaults();
    void restartQuirks_data();
    void restartQuirks();
    void faultList_data();
    void faultList();
    void unitList_data();
    void unitList();
    void unitVariables_data();
    void unitVariables();
    void flashFollowsEveryWrite();
    void flashFileSetAside_data();
    void flashFileSetAside();
    void flashFolderUnwritable_data();
    void flashFolderUnwritable();
    void interruptedCreationLeavesNoFile();
    void unitStateFile_data();
    void unitStateFile();
    void earlierFilesMoveToFirstUnit_data();
    void earlierFilesMoveToFirstUnit();
    void killedUpdateFoundAtNextStart_data();
    void killedUpdateFoundAtNextStart();
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

void SimulatedDevicesTest::hidApiContract_data()
{
    QTest::addColumn<int>("use");
    QTest::addColumn<bool>("broken"); // the stand-in reports a broken rule
    QTest::addColumn<int>("result");  // what the last call returns (hid_close: 0)
    QTest::addColumn<int>("open");    // handles open afterwards
    QTest::newRow("write after hid_close") << 0 << true << -1 << 0;
    // hid_exit frees the library's own state only: a device left open stays open and usable.
    QTest::newRow("read after hid_exit") << 1 << false << 64 << 1;
    QTest::newRow("close after hid_exit") << 2 << false << 0 << 0;
    QTest::newRow("write after hid_exit and hid_close") << 6 << true << -1 << 0;
    QTest::newRow("write without report id") << 3 << true << -1 << 1;
    QTest::newRow("read shorter than a report") << 4 << true << -1 << 1;
    QTest::newRow("handle never opened") << 5 << true << -1 << 1;
}

void SimulatedDevicesTest::hidApiContract()
{
    QFETCH(int, use);
    QFETCH(bool, broken);
    QFETCH(int, result);
    QFETCH(int, open);
    Link link;
    unsigned char buffer[65] = {};
    int returned = 0;
    switch (use) {
    case 0:
        hid_close(link.device);
        returned = hid_write(link.device, buffer, 65);
        break;
    case 1:
        link.send({'E', 'e'});
        hid_exit();
        returned = hid_read_timeout(link.device, buffer, 64, 4000);
        break;
    case 2:
        hid_exit();
        hid_close(link.device);
        break;
    case 3:
        buffer[0] = 'E';
        returned = hid_write(link.device, buffer, 65);
        break;
    case 4:
        link.send({'E', 'e'});
        returned = hid_read_timeout(link.device, buffer, 32, 4000);
        break;
    case 5:
        returned = hid_write(reinterpret_cast<hid_device *>(buffer), buffer, 65);
        break;
    case 6:
        hid_exit();
        hid_close(link.device);
        returned = hid_write(link.device, buffer, 65);
        break;
    }
    QCOMPARE(violations.size(), std::size_t(broken ? 1 : 0));
    QCOMPARE(returned, result);
    QCOMPARE(devices().openHandles(), open);
}

void SimulatedDevicesTest::unitsEnumerateByPort_data()
{
    // "count N", "units P,Q", "attach P SERIAL", "detach P", "portless P", "bootloader P" (its
    // ControlPanel runs its bootloader), "bootloader-serial P SERIAL"
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QStringList>("ports"); // as usbPortOf() gives them
    QTest::addColumn<QStringList>("serials");

    QTest::newRow("power-on") << QStringList() << QStringList{"1-1"} << QStringList{"CP1000"};
    QTest::newRow("device count") << QStringList{"count 3"} << QStringList{"1-1", "1-2", "1-3"}
                                  << QStringList{"CP1000", "CP1001", "CP1002"};
    QTest::newRow("none") << QStringList{"count 0"} << QStringList() << QStringList();
    QTest::newRow("units in their order")
        << QStringList{"units 1-2,1-1.4"} << QStringList{"1-2", "1-1.4"}
        << QStringList{"CP1000", "CP1001"};
    QTest::newRow("attached after the others")
        << QStringList{"attach 2-1 ZX9"} << QStringList{"1-1", "2-1"}
        << QStringList{"CP1000", "ZX9"};
    QTest::newRow("detached leaves the others")
        << QStringList{"count 3", "detach 1-2"} << QStringList{"1-1", "1-3"}
        << QStringList{"CP1000", "CP1002"};
    QTest::newRow("attached again at its port")
        << QStringList{"count 2", "attach 1-1 NEW"} << QStringList{"1-2", "1-1"}
        << QStringList{"CP1001", "NEW"};
    QTest::newRow("port unknown to sysfs")
        << QStringList{"count 3", "portless 1-2"} << QStringList{"1-1", "", "1-3"}
        << QStringList{"CP1000", "CP1001", "CP1002"};
    QTest::newRow("bootloader serial, application running")
        << QStringList{"count 2", "bootloader-serial 1-2 BL7"} << QStringList{"1-1", "1-2"}
        << QStringList{"CP1000", "CP1001"};
    QTest::newRow("bootloader serial, bootloader running")
        << QStringList{"count 2", "bootloader-serial 1-2 BL7", "bootloader 1-2"}
        << QStringList{"1-1", "1-2"} << QStringList{"CP1000", "BL7"};
}

void SimulatedDevicesTest::unitsEnumerateByPort()
{
    QFETCH(QStringList, steps);
    QFETCH(QStringList, ports);
    QFETCH(QStringList, serials);
    for (const QString &step : steps) {
        const QStringList words = step.split(' ');
        if (words[0] == "count")
            devices().setDeviceCount(words[1].toInt());
        else if (words[0] == "units") {
            std::vector<std::string> list;
            for (const QString &port : words[1].split(','))
                list.push_back(port.toStdString());
            devices().setUnits(list);
        } else if (words[0] == "attach") {
            devices().attachUnit(words[1].toStdString(), words[2].toStdString());
        } else if (words[0] == "detach") {
            devices().detachUnit(words[1].toStdString());
        } else {
            const int unit = devices().unitIndex(words[1].toStdString());
            if (words[0] == "portless")
                devices().setPortKnown(false, unit);
            else if (words[0] == "bootloader")
                devices().setPanelState(sim::PanelState::Bootloader, unit);
            else
                devices().setBootloaderSerial(words[2].toStdString(), unit);
        }
    }
    QStringList foundPorts;
    QStringList foundSerials;
    enumerated(foundPorts, foundSerials);
    QCOMPARE(foundPorts, ports);
    QCOMPARE(foundSerials, serials);
    for (int i = 0; i < ports.size(); ++i) {
        if (!ports[i].isEmpty()) {
            QCOMPARE(QString::fromStdString(devices().unitPort(i)), ports[i]);
            QCOMPARE(devices().unitIndex(ports[i].toStdString()), i);
        }
        hid_device *opened = hid_open_path(devices().nodeOf(i).c_str());
        QVERIFY(opened);
        hid_close(opened);
    }
    QCOMPARE(devices().unitPort(int(ports.size())), std::string());
    QCOMPARE(usbPortOf(SimulatedDevices::panelPath(int(ports.size())).c_str()), std::string());
    QCOMPARE(usbPortOf("/dev/hidraw0"), std::string());
}

void SimulatedDevicesTest::detachedUnitFailsLikeVanished()
{
    devices().setDeviceCount(2);
    hid_device *first = hid_open_path(SimulatedDevices::panelPath(0).c_str());
    hid_device *second = hid_open_path(SimulatedDevices::panelPath(1).c_str());
    QVERIFY(first && second);
    unsigned char report[65] = {0, 'E', 'e'};
    unsigned char reply[64];
    QCOMPARE(hid_write(second, report, 65), 65);
    devices().detachUnit("1-2");
    // The echo on its way is lost with the cable.
    QCOMPARE(hid_read_timeout(second, reply, 64, 4000), -1);
    QCOMPARE(hid_write(second, report, 65), -1);
    QVERIFY(!hid_open_path(SimulatedDevices::panelPath(1).c_str()));
    QCOMPARE(hid_write(first, report, 65), 65);
    QCOMPARE(hid_read_timeout(first, reply, 64, 4000), 64);
    hid_close(second);
    hid_close(first);
    QVERIFY(violations.empty());

    // Plugged in again, it is a fresh unit on a node of its own.
    devices().panelFlash(0)[0] = 0x00;
    devices().attachUnit("1-2", "CP1001");
    QCOMPARE(usbPortOf(SimulatedDevices::panelPath(1).c_str()), std::string("1-2"));
    QCOMPARE(devices().panelFlash(1)[0], 0xFF);
}

void SimulatedDevicesTest::unitsKeepTheirOwnFlashBoardAndFaults()
{
    devices().setUnits({"3-1", "3-2"});
    // Each unit counts its own reports: the second report to either unit goes unanswered, and
    // only 3-2's first 'L','l' report.
    devices().injectFault(FaultTrigger::atReport(1), Fault{FaultKind::NoReply});
    devices().injectFault(FaultTrigger::onCommand('L', 'l').atPort("3-2"),
                          Fault{FaultKind::NoReply});
    devices().enterBoardBootloader(1);
    QCOMPARE(devices().boardState(0), sim::BoardState::Application);
    QCOMPARE(devices().unitState(1), sim::UnitState::BoardBootloader);

    for (int device : {0, 1}) {
        Link link;
        hid_close(link.device);
        link.device = hid_open_path(SimulatedDevices::panelPath(device).c_str());
        link.send({'E', 'e'});
        link.read();
        QCOMPARE(link.send({'E', 'e'}), 65);
        QCOMPARE(link.read(), 0);
        link.send({'L', 'l', 0x00, 0x80});
        QCOMPARE(link.read(), device == 0 ? 64 : 0);
        hid_close(link.device);
    }

    Link board;
    hid_close(board.device);
    board.device = hid_open_path(SimulatedDevices::panelPath(1).c_str());
    board.send({'L', 'l', 0x00, 0x80});
    board.read();
    board.send({'M', 'm'});
    board.read();
    board.sendData(0x11);
    board.read();
    board.sendData(0x22);
    board.read();
    board.send({'O', 'o'});
    QCOMPARE(board.read(), 64);
    QCOMPARE(devices().boardFlash(1)[0x80], 0x11);
    QCOMPARE(devices().boardFlash(0)[0x80], 0xFF);
    QCOMPARE(devices().unitState(1), sim::UnitState::Application);
    QCOMPARE(recordedStates.size(), std::size_t(1));
    QCOMPARE(recordedStates[0].port, std::string("3-2"));
    QCOMPARE(recordedStates[0].state, sim::UnitState::Application);
    hid_close(board.device);
}

void SimulatedDevicesTest::restartQuirks_data()
{
    QTest::addColumn<sim::RestartQuirk>("quirk");
    QTest::addColumn<int>("from");                // the restart the quirk starts with
    QTest::addColumn<sim::PanelState>("settled"); // well after that restart's time
    QTest::addColumn<bool>("handleWorks");        // the handle opened before its command
    QTest::addColumn<sim::UnitState>("lasting");
    QTest::addColumn<bool>("answers"); // a handle opened afresh, when it is on the bus

    QTest::newRow("normal") << sim::RestartQuirk::Normal << 0 << sim::PanelState::Bootloader
                            << false << sim::UnitState::PanelBootloader << true;
    QTest::newRow("stays on the bus")
        << sim::RestartQuirk::StaysOnBus << 0 << sim::PanelState::Application << true
        << sim::UnitState::Application << true;
    QTest::newRow("never returns")
        << sim::RestartQuirk::NeverReturns << 0 << sim::PanelState::Restarting << false
        << sim::UnitState::PanelBootloader << false;
    QTest::newRow("returns silent")
        << sim::RestartQuirk::ReturnsSilent << 0 << sim::PanelState::Bootloader << false
        << sim::UnitState::PanelBootloader << false;
    // The first restart, into the bootloader, is normal; the quirk strikes its way back.
    QTest::newRow("stays on the bus from the second restart")
        << sim::RestartQuirk::StaysOnBus << 1 << sim::PanelState::Bootloader << true
        << sim::UnitState::PanelBootloader << true;
    QTest::newRow("never returns from the second restart")
        << sim::RestartQuirk::NeverReturns << 1 << sim::PanelState::Restarting << false
        << sim::UnitState::Application << false;
    QTest::newRow("returns silent from the second restart")
        << sim::RestartQuirk::ReturnsSilent << 1 << sim::PanelState::Application << false
        << sim::UnitState::Application << false;
}

void SimulatedDevicesTest::restartQuirks()
{
    QFETCH(sim::RestartQuirk, quirk);
    QFETCH(int, from);
    QFETCH(sim::PanelState, settled);
    QFETCH(bool, handleWorks);
    QFETCH(sim::UnitState, lasting);
    QFETCH(bool, answers);
    devices().setDeviceCount(2);
    devices().setRestartTime(std::chrono::milliseconds(20));
    devices().setRestartQuirk(quirk, 1, from);
    Link link;
    hid_close(link.device);
    link.device = hid_open_path(SimulatedDevices::panelPath(1).c_str());
    // Into the bootloader, out of it, and so on.
    const char restarts[2][2] = {{'B', 'b'}, {'b', 'B'}};
    for (int restart = 0; restart <= from; ++restart) {
        if (restart > 0) {
            QTRY_COMPARE(devices().panelState(1),
                         restart % 2 ? sim::PanelState::Bootloader : sim::PanelState::Application);
            hid_close(link.device);
            link.device = hid_open_path(devices().nodeOf(1).c_str());
        }
        const char *command = restarts[restart % 2];
        link.send({command[0], command[1]});
        QCOMPARE(link.read(), 64);
        QVERIFY(link.echoed(command[0], command[1]));
    }
    QTest::qWait(100);
    QCOMPARE(devices().panelState(1), settled);
    QCOMPARE(devices().panelState(0), sim::PanelState::Application);
    QCOMPARE(link.send({'E', 'e'}), handleWorks ? 65 : -1);
    QCOMPARE(devices().unitState(1), lasting);
    QCOMPARE(recordedStates.empty() ? sim::UnitState::Application : recordedStates.back().state,
             lasting);
    QStringList ports;
    QStringList serials;
    enumerated(ports, serials);
    QCOMPARE(ports.contains("1-2"), settled != sim::PanelState::Restarting);
    hid_close(link.device);
    if (settled == sim::PanelState::Restarting)
        return;
    Link fresh;
    hid_close(fresh.device);
    fresh.device = hid_open_path(devices().nodeOf(1).c_str());
    QVERIFY(fresh.device);
    fresh.send({'C', 'c'});
    QCOMPARE(fresh.read(), answers ? 64 : 0);
    hid_close(fresh.device);
}

void SimulatedDevicesTest::faultList_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("problem"); // empty: accepted
    QTest::addColumn<int>("entries");
    QTest::addColumn<FaultKind>("kind"); // of the first entry, and where it strikes:
    QTest::addColumn<int>("reportIndex");
    QTest::addColumn<QString>("letters");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QString>("port");

    QTest::newRow("by index") << "no-reply@#3"
                              << "" << 1 << FaultKind::NoReply << 3 << "" << 0 << "";
    QTest::newRow("by letters and occurrence")
        << "corrupt-read-back@Rr:3"
        << "" << 1 << FaultKind::CorruptReadBack << -1 << "Rr" << 3 << "";
    QTest::newRow("first occurrence by default")
        << "wrong-second-byte@Nn"
        << "" << 1 << FaultKind::WrongSecondByte << -1 << "Nn" << 0 << "";
    QTest::newRow("one unit") << "duplicated-reply@Rr:3@1-2"
                              << "" << 1 << FaultKind::DuplicatedReply << -1 << "Rr" << 3 << "1-2";
    QTest::newRow("several") << "short-write@#0,unsolicited@Yy,failed-write@#9@1-1"
                             << "" << 3 << FaultKind::ShortWrite << 0 << "" << 0 << "";

    auto refused = [](const char *tag, const char *text, const char *problem) {
        QTest::newRow(tag) << text << problem << 0 << FaultKind::NoReply << 0 << "" << 0 << "";
    };
    refused("no place", "no-reply", "\"no-reply\": an entry is KIND@WHERE or KIND@WHERE@PORT");
    refused("too many fields", "no-reply@#1@1-1@x",
            "\"no-reply@#1@1-1@x\": an entry is KIND@WHERE or KIND@WHERE@PORT");
    refused("empty entry", "no-reply@#1,,late-reply@#2",
            "\"\": an entry is KIND@WHERE or KIND@WHERE@PORT");
    refused("unknown kind", "lost-reply@#1", "\"lost-reply@#1\": unknown fault kind");
    refused("index not a number", "no-reply@#x",
            "\"no-reply@#x\": the report's number after '#' must be a count from 0");
    refused("negative index", "no-reply@#-1",
            "\"no-reply@#-1\": the report's number after '#' must be a count from 0");
    refused("one letter", "no-reply@R",
            "\"no-reply@R\": where the fault strikes must be #N or two command letters");
    refused("letters not letters", "no-reply@R1",
            "\"no-reply@R1\": where the fault strikes must be #N or two command letters");
    refused("occurrence without colon", "no-reply@Rr3",
            "\"no-reply@Rr3\": after the command letters may come only ':'");
    refused("other mark before the occurrence", "no-reply@Rr;3",
            "\"no-reply@Rr;3\": after the command letters may come only ':'");
    refused("colon without occurrence",
            "no-reply@Rr:", "\"no-reply@Rr:\": after the command letters may come only ':'");
    refused("unit not simulated", "no-reply@Rr:1@1-9",
            "\"no-reply@Rr:1@1-9\": no simulated unit at port \"1-9\"");
}

void SimulatedDevicesTest::faultList()
{
    QFETCH(QString, text);
    QFETCH(QString, problem);
    QFETCH(int, entries);
    std::vector<sim::FaultEntry> faults;
    const QString found = QString::fromStdString(
        sim::parseFaultList(text.toStdString(), {"1-1", "1-2"}, faults).refusal);
    QVERIFY2(problem.isEmpty() ? found.isEmpty() : found.startsWith(problem), qPrintable(found));
    QCOMPARE(int(faults.size()), entries);
    if (!entries)
        return;
    QFETCH(FaultKind, kind);
    QFETCH(int, reportIndex);
    QFETCH(QString, letters);
    QFETCH(int, occurrence);
    QFETCH(QString, port);
    const FaultTrigger &trigger = faults[0].trigger;
    QCOMPARE(faults[0].fault.kind, kind);
    QCOMPARE(trigger.reportIndex, reportIndex);
    if (reportIndex < 0) {
        QCOMPARE(QString(QChar(trigger.first)) + QChar(trigger.second), letters);
        QCOMPARE(trigger.occurrence, occurrence);
    }
    QCOMPARE(QString::fromStdString(trigger.port), port);
}

void SimulatedDevicesTest::unitList_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("problem"); // empty: accepted

    QTest::newRow("ports and hub ports") << "1-1,1-1.2,3-10.4.1"
                                         << "";
    QTest::newRow("not a port") << "1-1,hidraw3"
                                << "\"hidraw3\" is not a USB port";
    QTest::newRow("port 0") << "1-0"
                            << "\"1-0\" is not a USB port";
    QTest::newRow("trailing comma") << "1-1,"
                                    << "\"\" is not a USB port";
    QTest::newRow("named twice") << "1-2,1-1,1-2"
                                 << "port 1-2 is named twice";
}

void SimulatedDevicesTest::unitList()
{
    QFETCH(QString, text);
    QFETCH(QString, problem);
    std::vector<std::string> ports{"kept"};
    const QString found =
        QString::fromStdString(sim::parseUnitList(text.toStdString(), ports).refusal);
    QVERIFY2(problem.isEmpty() ? found.isEmpty() : found.startsWith(problem), qPrintable(found));
    QCOMPARE(int(ports.size()), problem.isEmpty() ? int(text.count(',')) + 1 : 1);
}

void SimulatedDevicesTest::unitVariables_data()
{
    QTest::addColumn<QByteArray>("variable"); // set beside ZELUPDATE_SIM_UNITS=1-1,1-2
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QString>("problem"); // how the refusal starts; empty: accepted
    // Each unit after a restart into its bootloader: gone, or the port usbPortOf() gives, the
    // serial number listed, and what it runs ("silent" when it does not answer).
    QTest::addColumn<QString>("units");

    const QString normal = "1-1 CP1000 bootloader; 1-2 CP1001 bootloader";
    QTest::newRow("no port") << QByteArray("ZELUPDATE_SIM_PORTLESS") << QByteArray("1-2") << ""
                             << "1-1 CP1000 bootloader; no-port CP1001 bootloader";
    QTest::newRow("bootloader serial of every unit")
        << QByteArray("ZELUPDATE_SIM_BOOTLOADER_SERIAL") << QByteArray("BL9") << ""
        << "1-1 BL9 bootloader; 1-2 BL9 bootloader";
    QTest::newRow("later bootloader serial wins")
        << QByteArray("ZELUPDATE_SIM_BOOTLOADER_SERIAL") << QByteArray("BL9,BL7@1-2") << ""
        << "1-1 BL9 bootloader; 1-2 BL7 bootloader";
    QTest::newRow("stays on the bus")
        << QByteArray("ZELUPDATE_SIM_RESTARTS") << QByteArray("stays-on-bus@1-2") << ""
        << "1-1 CP1000 bootloader; 1-2 CP1001 application";
    QTest::newRow("never returns but one")
        << QByteArray("ZELUPDATE_SIM_RESTARTS") << QByteArray("never-returns,normal@1-2") << ""
        << "gone; 1-2 CP1001 bootloader";
    QTest::newRow("returns silent from the first restart")
        << QByteArray("ZELUPDATE_SIM_RESTARTS") << QByteArray("returns-silent:0@1-1") << ""
        << "1-1 CP1000 silent; 1-2 CP1001 bootloader";
    QTest::newRow("returns silent from the second restart")
        << QByteArray("ZELUPDATE_SIM_RESTARTS") << QByteArray("returns-silent:1") << "" << normal;

    auto refused = [](const char *tag, const char *variable, const QByteArray &value,
                      const QString &problem) {
        QTest::newRow(tag) << QByteArray(variable) << value << problem << QString();
    };
    refused("no port for a unit not simulated", "ZELUPDATE_SIM_PORTLESS", "1-1,1-3",
            "ZELUPDATE_SIM_PORTLESS: \"1-3\": no simulated unit at port \"1-3\"");
    refused("empty serial", "ZELUPDATE_SIM_BOOTLOADER_SERIAL", "@1-2",
            "ZELUPDATE_SIM_BOOTLOADER_SERIAL: \"@1-2\": an entry is SERIAL or SERIAL@PORT");
    refused("serial longer than a USB string", "ZELUPDATE_SIM_BOOTLOADER_SERIAL",
            QByteArray(127, 'x'),
            "ZELUPDATE_SIM_BOOTLOADER_SERIAL: \"" + QString(127, 'x') +
                "\": a serial number holds at most 126 characters");
    refused("serial for a unit not simulated", "ZELUPDATE_SIM_BOOTLOADER_SERIAL", "BL9@1-9",
            "ZELUPDATE_SIM_BOOTLOADER_SERIAL: \"BL9@1-9\": no simulated unit at port \"1-9\"");
    refused("unknown restart kind", "ZELUPDATE_SIM_RESTARTS", "bounces",
            "ZELUPDATE_SIM_RESTARTS: \"bounces\": unknown restart kind \"bounces\" (one of "
            "normal, stays-on-bus, never-returns, returns-silent)");
    refused("restart not a count", "ZELUPDATE_SIM_RESTARTS", "never-returns:x",
            "ZELUPDATE_SIM_RESTARTS: \"never-returns:x\": after the kind may come only ':'");
    refused("two ports", "ZELUPDATE_SIM_RESTARTS", "never-returns@1-1@1-2",
            "ZELUPDATE_SIM_RESTARTS: \"never-returns@1-1@1-2\": an entry is KIND, KIND:N");
}

void SimulatedDevicesTest::unitVariables()
{
    QFETCH(QByteArray, variable);
    QFETCH(QByteArray, value);
    QFETCH(QString, problem);
    QFETCH(QString, units);
    QTemporaryDir folder;
    const std::vector<std::pair<const char *, QByteArray>> environment{
        {"ZELUPDATE_SIM_UNITS", "1-1,1-2"},
        {"ZELUPDATE_SIM_RESTART_MS", "0"},
        {"ZELUPDATE_SIM_DIR", folder.path().toLocal8Bit()},
        {variable.constData(), value}};
    for (const auto &[name, setting] : environment)
        qputenv(name, setting);
    sim::DemoSettings settings;
    const sim::SettingCheck check = sim::readDemoSettings(settings);
    std::unique_ptr<sim::DemoDevices> demo;
    if (check.accepted()) {
        demo = std::make_unique<sim::DemoDevices>("tst_simulateddevices", settings);
        demo->start();
    }
    for (const auto &[name, setting] : environment)
        qunsetenv(name);
    QVERIFY2(problem.isEmpty() ? check.accepted()
                               : QString::fromStdString(check.refusal).startsWith(problem),
             check.refusal.c_str());
    if (!demo)
        return;

    // Replies at once, and reads that nothing answers return at once.
    devices().setReplyLatency(std::chrono::microseconds(0));
    devices().setRealTimeouts(false);
    for (int unit = 0; unit < 2; ++unit) {
        Link link;
        hid_close(link.device);
        link.device = hid_open_path(devices().nodeOf(unit).c_str());
        link.send({'B', 'b'});
        QCOMPARE(link.read(), 64);
        hid_close(link.device);
    }
    QStringList found;
    for (int unit = 0; unit < 2; ++unit) {
        if (devices().panelState(unit) == sim::PanelState::Restarting) {
            found << "gone";
            continue;
        }
        const std::string node = devices().nodeOf(unit);
        const std::string port = usbPortOf(node.c_str());
        QString serial;
        hid_device_info *all = hid_enumerate(0x03EB, 0x2402);
        for (hid_device_info *info = all; info; info = info->next)
            if (node == info->path)
                serial = QString::fromWCharArray(info->serial_number);
        hid_free_enumeration(all);
        Link link;
        hid_close(link.device);
        link.device = hid_open_path(node.c_str());
        link.send({'C', 'c'});
        const bool silent = link.read() == 0;
        hid_close(link.device);
        const bool inBootloader = devices().panelState(unit) == sim::PanelState::Bootloader;
        found << QString::fromStdString(port.empty() ? "no-port" : port) + ' ' + serial + ' ' +
                     (silent         ? "silent"
                      : inBootloader ? "bootloader"
                                     : "application");
    }
    QCOMPARE(found.join("; "), units);
}

void SimulatedDevicesTest::flashFollowsEveryWrite()
{
    QTemporaryDir top;
    const QString folder = top.filePath("data/zelUpdate-sim/1-1");
    sim::UnitFiles files(folder.toStdString());
    QCOMPARE(joined(files.open()), QString());
    QCOMPARE(entries(folder), (QStringList{"controlboard.bin", "controlpanel.bin"}));
    QCOMPARE(readFile(folder + "/controlpanel.bin"), erased(262144));
    devices().useFlash(0, files.panelFlash(), files.boardFlash());

    devices().setPanelState(sim::PanelState::Bootloader);
    Link link;
    link.send({'C', 'c'});
    link.read();
    link.send({'Y', 'y', 0, 0, 0x01, 0x40});
    link.read();
    link.sendData(0x3C);
    QCOMPARE(link.read(), 64);
    // No save: the file already holds what the device wrote.
    QCOMPARE(readFile(folder + "/controlpanel.bin").mid(0x13F, 3), QByteArray("\xFF\x3C\x3C"));

    // A second program on the same folder shares the flash: neither undoes the other's writes.
    sim::UnitFiles other(folder.toStdString());
    QCOMPARE(joined(other.open()), QString());
    (*other.boardFlash())[0x7DFF] = 0x34;
    (*files.panelFlash())[0x3FC17] = 0x12;
    QCOMPARE(devices().boardFlash()[0x7DFF], 0x34);
    QCOMPARE(readFile(folder + "/controlpanel.bin").at(0x3FC17), '\x12');
    QCOMPARE(readFile(folder + "/controlboard.bin").at(0x7DFF), '\x34');
    hid_close(link.device);
    devices().reset();
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
    sim::UnitFiles files(folder.path().toStdString());
    QCOMPARE(joined(files.open()),
             path + ' ' + problem + " starts erased, and the file is left as it is");
    QCOMPARE(panelAside, files.panelFlash() == nullptr);
    QCOMPARE(!panelAside, files.boardFlash() == nullptr);
    devices().useFlash(0, files.panelFlash(), files.boardFlash());
    QCOMPARE(panelAside ? devices().panelFlash()[5] : devices().boardFlash()[5], 0xFF);

    devices().panelFlash()[5] = 0x11;
    devices().boardFlash()[5] = 0x11;
    QCOMPARE(QFileInfo(path).isDir() ? QByteArray() : readFile(path), contents);
    // The other device's file follows its writes as usual.
    const QString other = panelAside ? "controlboard.bin" : "controlpanel.bin";
    QCOMPARE(readFile(folder.filePath(other)).at(5), '\x11');
    devices().reset();
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

    sim::UnitFiles files(folder.toStdString());
    const sim::UnitFilesProblems problems = files.open();
    const QString found = QString::fromStdString(problems.folder);
    QVERIFY2(found.startsWith(problem.replace("<file>", file.fileName())), qPrintable(found));
    QVERIFY(!files.panelFlash() && !files.boardFlash());
    QVERIFY(!files.recordState(sim::UnitState::PanelBootloader).empty());

    // The -sim programs refuse to start on it, before any unit is set up.
    qputenv("ZELUPDATE_SIM_DIR", folder.toLocal8Bit());
    sim::DemoSettings settings;
    settings.ports = {"2-3"};
    sim::DemoDevices demo("tst_simulateddevices", settings);
    const sim::DemoStart started = demo.start();
    qunsetenv("ZELUPDATE_SIM_DIR");
    QCOMPARE(started.end, sim::DemoStart::End::FolderUnusable);
    QVERIFY2(QString::fromStdString(started.refusal)
                 .endsWith("; set ZELUPDATE_SIM_DIR to a folder this user can write"),
             started.refusal.c_str());
    QCOMPARE(devices().unitPort(0), std::string("1-1"));
}

void SimulatedDevicesTest::interruptedCreationLeavesNoFile()
{
    // A size limit under the panel's 262,144 bytes stops its erased file in the middle.
    QTemporaryDir folder;
    sim::UnitFiles files(folder.path().toStdString());
    rlimit limit{};
    getrlimit(RLIMIT_FSIZE, &limit);
    const rlimit unlimited = limit;
    limit.rlim_cur = 100000;
    std::signal(SIGXFSZ, SIG_IGN); // past the limit write() fails instead of killing the process
    setrlimit(RLIMIT_FSIZE, &limit);
    const QString problems = joined(files.open());
    setrlimit(RLIMIT_FSIZE, &unlimited);
    std::signal(SIGXFSZ, SIG_DFL);

    QVERIFY2(problems.startsWith("cannot create " + folder.filePath("controlpanel.bin") + ": "),
             qPrintable(problems));
    QVERIFY(problems.endsWith(": the ControlPanel starts erased"));
    QVERIFY(!files.panelFlash() && files.boardFlash());
    QCOMPARE(entries(folder.path()), QStringList{"controlboard.bin"});
}

void SimulatedDevicesTest::unitStateFile_data()
{
    QTest::addColumn<QByteArray>("contents"); // null: no state file
    QTest::addColumn<sim::UnitState>("state");
    QTest::addColumn<QString>("problem");

    QTest::newRow("never written") << QByteArray() << sim::UnitState::Application << "";
    QTest::newRow("bootloader") << QByteArray("bootloader\n") << sim::UnitState::PanelBootloader
                                << "";
    QTest::newRow("board bootloader")
        << QByteArray("board-bootloader\n") << sim::UnitState::BoardBootloader << "";
    QTest::newRow("unknown word") << QByteArray("dfu\n") << sim::UnitState::Application
                                  << "/state does not hold a state this program knows";
}

void SimulatedDevicesTest::unitStateFile()
{
    QFETCH(QByteArray, contents);
    QFETCH(sim::UnitState, state);
    QFETCH(QString, problem);
    QTemporaryDir folder;
    QVERIFY(contents.isNull() || writeFile(folder.filePath("state"), contents));
    sim::UnitFiles files(folder.path().toStdString());
    const QString problems = joined(files.open());
    QVERIFY2(problem.isEmpty() ? problems.isEmpty() : problems.contains(problem),
             qPrintable(problems));
    QCOMPARE(files.state(), state);

    QCOMPARE(files.recordState(sim::UnitState::BoardBootloader), std::string());
    QCOMPARE(readFile(folder.filePath("state")), QByteArray("board-bootloader\n"));
    // A folder at the file's place: the state cannot be recorded, and the message says where.
    QVERIFY(QFile::remove(folder.filePath("state")) && QDir(folder.path()).mkpath("state/kept"));
    const QString refused = QString::fromStdString(files.recordState(sim::UnitState::Application));
    QVERIFY2(refused.startsWith("cannot record the unit's state in " + folder.filePath("state")),
             qPrintable(refused));
    QCOMPARE(entries(folder.path()),
             (QStringList{"controlboard.bin", "controlpanel.bin", "state"}));
}

void SimulatedDevicesTest::earlierFilesMoveToFirstUnit_data()
{
    QTest::addColumn<bool>("unitHasOne"); // the first unit's folder already holds a panel file
    QTest::newRow("moved") << false;
    QTest::newRow("left where it is") << true;
}

void SimulatedDevicesTest::earlierFilesMoveToFirstUnit()
{
    QFETCH(bool, unitHasOne);
    QTemporaryDir folder;
    const QByteArray earlier(262144, '\x5A');
    QVERIFY(writeFile(folder.filePath("controlpanel.bin"), earlier));
    QVERIFY(!unitHasOne || (QDir(folder.path()).mkdir("2-3") &&
                            writeFile(folder.filePath("2-3/controlpanel.bin"), erased(262144))));
    qputenv("ZELUPDATE_SIM_DIR", folder.path().toLocal8Bit());
    sim::DemoSettings settings;
    settings.ports = {"2-3", "2-4"};
    {
        sim::DemoDevices demo("tst_simulateddevices", settings);
        QCOMPARE(demo.start().end, sim::DemoStart::End::Started);
        QCOMPARE(devices().panelFlash(0)[0], unitHasOne ? 0xFF : 0x5A);
        QCOMPARE(devices().panelFlash(1)[0], 0xFF);
    }
    qunsetenv("ZELUPDATE_SIM_DIR");
    QCOMPARE(readFile(folder.filePath(unitHasOne ? "controlpanel.bin" : "2-3/controlpanel.bin")),
             earlier);
    QCOMPARE(QFileInfo::exists(folder.filePath("controlpanel.bin")), unitHasOne);
    QCOMPARE(entries(folder.filePath("2-4")),
             (QStringList{"controlboard.bin", "controlpanel.bin"}));
}

void SimulatedDevicesTest::killedUpdateFoundAtNextStart_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("file");
    QTest::addColumn<sim::UnitState>("state");
    QTest::newRow("panel") << "panel"
                           << "controlpanel.bin" << sim::UnitState::PanelBootloader;
    QTest::newRow("board") << "board"
                           << "controlboard.bin" << sim::UnitState::BoardBootloader;
}

void SimulatedDevicesTest::killedUpdateFoundAtNextStart()
{
    QFETCH(QString, target);
    QFETCH(QString, file);
    QFETCH(sim::UnitState, state);
    QTemporaryDir folder;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("ZELUPDATE_SIM_DIR", folder.path());
    environment.insert("XDG_STATE_HOME", folder.filePath("history"));
    environment.insert("ZELUPDATE_SIM_RESTART_MS", "100");
    QProcess update;
    update.setProcessEnvironment(environment);
    update.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    update.start(ZELUPDATE_CLI_SIM,
                 {"update", "--target", target, EXAMPLES_DIR "/control" + target + "-example.hex"});
    QVERIFY(update.waitForStarted());
    // Killed as soon as its first page is in the flash: no chance to tidy up.
    const QString flashPath = folder.filePath("1-1/" + file);
    QTRY_VERIFY_WITH_TIMEOUT(readFile(flashPath).count('\xFF') < QFileInfo(flashPath).size(),
                             20000);
    QCOMPARE(update.state(), QProcess::Running);
    update.kill();
    QVERIFY(update.waitForFinished());
    QCOMPARE(update.exitStatus(), QProcess::CrashExit);

    const QByteArray halfWritten = readFile(flashPath);
    QVERIFY(halfWritten.count('\xFF') > halfWritten.size() / 2);
    QCOMPARE(readFile(folder.filePath("1-1/state")).trimmed(), QByteArray(sim::stateWord(state)));

    // The next start finds the unit as the update left it.
    qputenv("ZELUPDATE_SIM_DIR", folder.path().toLocal8Bit());
    sim::DemoDevices demo("tst_simulateddevices", sim::DemoSettings());
    QCOMPARE(demo.start().end, sim::DemoStart::End::Started);
    qunsetenv("ZELUPDATE_SIM_DIR");
    QCOMPARE(devices().unitState(), state);
    const auto *flash =
        target == "panel" ? devices().panelFlash().data() : devices().boardFlash().data();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(flash), halfWritten.size()), halfWritten);
    // Its bootloader answers the start command, which the ControlPanel's application refuses.
    Link link;
    link.send({'C', 'c'});
    QCOMPARE(link.read(), 64);
    QVERIFY(link.echoed('C', 'c'));
    hid_close(link.device);
}

QTEST_GUILESS_MAIN(SimulatedDevicesTest)
#include "tst_simulateddevices.moc"
