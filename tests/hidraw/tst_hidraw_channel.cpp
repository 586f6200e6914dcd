// The command channel on the real hidapi (hidraw backend) against an emulated ControlPanel node:
// umockdev-run provides the device (controlpanel.umockdev, controlpanel.ioctl) and answers from
// a script. CTest runs one function or row per script (see CMakeLists.txt) and names the script
// in ZEL_HIDRAW_SCRIPT; after every test the traffic must be exactly the script's, so a reply
// the script holds but the channel never read fails the test (umockdev-run itself stops with an
// error on a write that differs from its `w` line).
#include "CommandChannel.h"
#include "HidapiTap.h"
#include "TrafficText.h"
#include "UmockdevScript.h"
#include "UsbPort.h"

#include <QtTest>

#include <hidapi.h>

#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <utility>

namespace {

constexpr std::uint8_t kMarker = 0x5A; // stands in the reply before an exchange
constexpr int kTimeoutLowerBoundMs = 3500;
// Handed to the channel by the tests whose scripts answer late, so that they wait out a second
// instead of the device's four; their scripts are timed by it.
constexpr int kShortTimeoutMs = 1000;
constexpr int kShortTimeoutLowerBoundMs = 875;

const char kAlphanumerics[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
const char kHexDigits[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

QByteArray replyOf(const CommandChannel &channel)
{
    return QByteArray(reinterpret_cast<const char *>(channel.reply), kReplySize);
}

QByteArray padded(QByteArray bytes, int size)
{
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

QByteArray echo(char first, char second)
{
    QByteArray bytes(kReplySize, '\0');
    bytes[0] = second;
    bytes[1] = first;
    return bytes;
}

QByteArray marker()
{
    return QByteArray(kReplySize, static_cast<char>(kMarker));
}

void prepare(CommandChannel &channel, const QByteArray &payload)
{
    std::memset(channel.reply, kMarker, kReplySize);
    std::memset(channel.command, 0, kPayloadSize);
    std::memcpy(channel.command, payload.constData(), static_cast<std::size_t>(payload.size()));
}

QByteArray bytesOf(const std::vector<std::uint8_t> &bytes)
{
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), static_cast<int>(bytes.size()));
}

std::string readFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Differences between the traffic so far and the script, empty when the script was followed to
// its end: the writes must be its `w` blocks and the reads that delivered data its `r` blocks,
// each in order. (A late `r` line stands before a write that the program makes before reading.)
std::string scriptNotFollowed()
{
    const QByteArray path = qgetenv("ZEL_HIDRAW_SCRIPT");
    std::vector<umockdev::ScriptLine> lines;
    std::string error;
    if (!path.isEmpty() && umockdev::parseScript(readFile(path.toStdString()), lines, error))
        return path.toStdString() + ": " + error;

    using Op = umockdev::ScriptLine::Op;
    using Direction = sim::TrafficRecord::Direction;
    for (const auto &[op, direction] :
         {std::pair{Op::Write, Direction::Out}, std::pair{Op::Read, Direction::In}}) {
        const char *kind = op == Op::Write ? "w" : "r";
        std::vector<std::vector<std::uint8_t>> scripted;
        for (const umockdev::ScriptLine &line : lines)
            if (line.op == op)
                scripted.push_back(line.data);
        std::vector<const sim::TrafficRecord *> seen;
        for (const sim::TrafficRecord &record : tap::log().traffic)
            if (record.direction == direction && !record.bytes.empty())
                seen.push_back(&record);
        for (std::size_t i = 0; i < std::max(scripted.size(), seen.size()); ++i) {
            const std::string block = std::string(kind) + " block " + std::to_string(i + 1);
            if (i >= seen.size())
                return block + " was not consumed: " + umockdev::encodeBlock(scripted[i]);
            if (i >= scripted.size())
                return "traffic " + umockdev::formatRecord(*seen[i]) + " is beyond the script";
            if (scripted[i] != seen[i]->bytes)
                return block + " differs: traffic " + umockdev::formatRecord(*seen[i]);
        }
    }
    return {};
}

// How many of this process's file descriptors lead to the emulated node.
int descriptorsOnNode()
{
    char node[256] = {};
    const QByteArray link = qgetenv("UMOCKDEV_DIR") + "/dev/hidraw0";
    if (readlink(link.constData(), node, sizeof node - 1) <= 0)
        return -1;
    int count = 0;
    DIR *fds = opendir("/proc/self/fd");
    if (!fds)
        return -1;
    while (const dirent *entry = readdir(fds)) {
        char target[256] = {};
        const std::string path = std::string("/proc/self/fd/") + entry->d_name;
        if (readlink(path.c_str(), target, sizeof target - 1) > 0 && std::strcmp(target, node) == 0)
            ++count;
    }
    closedir(fds);
    return count;
}

// Input and output report sizes in bytes that a report descriptor declares, and whether it
// numbers its reports. Enough of the HID item format for a flat descriptor like ours.
struct DescribedReports
{
    int inputBits = 0;
    int outputBits = 0;
    bool numbered = false;
};

DescribedReports describedReports(const QByteArray &descriptor)
{
    DescribedReports reports;
    int size = 0;
    int count = 0;
    for (int i = 0; i < descriptor.size();) {
        const auto prefix = static_cast<std::uint8_t>(descriptor[i]);
        const int length = (prefix & 0x03) == 3 ? 4 : (prefix & 0x03);
        unsigned value = 0;
        for (int b = 0; b < length && i + 1 + b < descriptor.size(); ++b)
            value |= unsigned(static_cast<std::uint8_t>(descriptor[i + 1 + b])) << (8 * b);
        switch (prefix & 0xFC) {
        case 0x74: // Report Size
            size = static_cast<int>(value);
            break;
        case 0x94: // Report Count
            count = static_cast<int>(value);
            break;
        case 0x84: // Report ID
            reports.numbered = true;
            break;
        case 0x80: // Input
            reports.inputBits += size * count;
            break;
        case 0x90: // Output
            reports.outputBits += size * count;
            break;
        default:
            break;
        }
        i += 1 + length;
    }
    return reports;
}

} // namespace

class HidrawChannelTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void emulatedPanel();
    void usbPort_data();
    void usbPort();
    void exchange_data();
    void exchange();
    void noReply();
    void lateReply();
    void staleReplyDiscarded();
    void readReplyTakesSecondReply();
    void openExchangeCloseReopen();
    void openWithoutPanel();
};

void HidrawChannelTest::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("UMOCKDEV_DIR"),
             "run under umockdev-run with the emulated ControlPanel, as CTest does");
}

void HidrawChannelTest::init()
{
    tap::log() = {};
}

void HidrawChannelTest::cleanup()
{
    const std::string problem = scriptNotFollowed();
    QVERIFY2(problem.empty(), problem.c_str());
}

// What the real library finds: the ids, the node, the usage from the report descriptor; and a
// node whose ioctls give the same descriptor as sysfs, with 64-byte unnumbered reports.
void HidrawChannelTest::emulatedPanel()
{
    hid_device_info *devices = hid_enumerate(kControlPanelVendorId, kControlPanelProductId);
    QVERIFY(devices);
    QVERIFY(!devices->next);
    QCOMPARE(QByteArray(devices->path), QByteArray("/dev/hidraw0"));
    QCOMPARE(devices->usage_page, static_cast<unsigned short>(0xFF00));
    QCOMPARE(devices->usage, static_cast<unsigned short>(0x01));
    QCOMPARE(devices->interface_number, 0);
    QCOMPARE(devices->bus_type, HID_API_BUS_USB);
    QCOMPARE(QString::fromWCharArray(devices->product_string), QString("ControlPanel"));
    hid_free_enumeration(devices);

    QFile sysfs("/sys/class/hidraw/hidraw0/device/report_descriptor");
    QVERIFY(sysfs.open(QIODevice::ReadOnly));
    const QByteArray fromSysfs = sysfs.readAll();

    const int node = ::open("/dev/hidraw0", O_RDWR);
    QVERIFY(node >= 0);
    int size = 0;
    hidraw_report_descriptor descriptor{};
    const int sizeResult = ioctl(node, HIDIOCGRDESCSIZE, &size);
    descriptor.size = static_cast<std::uint32_t>(size);
    const int descriptorResult = ioctl(node, HIDIOCGRDESC, &descriptor);
    ::close(node);
    QCOMPARE(sizeResult, 0);
    QCOMPARE(descriptorResult, 0);
    QCOMPARE(size, fromSysfs.size());
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(descriptor.value), size), fromSysfs);

    const DescribedReports reports = describedReports(fromSysfs);
    QCOMPARE(reports.inputBits, kReplySize * 8);
    QCOMPARE(reports.outputBits, kPayloadSize * 8);
    QVERIFY(!reports.numbered);
}

// The port is the name of the nearest USB device above the node in sysfs: the ControlPanel
// (1-1.2), not the hub it hangs from (1-1) nor the root hub (usb1), which have busnum and devpath
// as well.
void HidrawChannelTest::usbPort_data()
{
    QTest::addColumn<QByteArray>("path");
    QTest::addColumn<QString>("port");

    QTest::newRow("emulated panel") << QByteArray("/dev/hidraw0") << "1-1.2";
    QTest::newRow("node not attached") << QByteArray("/dev/hidraw7") << "";
    QTest::newRow("hidraw name outside /dev") << QByteArray("/tmp/hidraw0") << "";
    QTest::newRow("no path") << QByteArray() << "";
}

void HidrawChannelTest::usbPort()
{
    QFETCH(QByteArray, path);
    QFETCH(QString, port);

    QCOMPARE(QString::fromStdString(usbPortOf(path.isNull() ? nullptr : path.constData())), port);
}

void HidrawChannelTest::exchange_data()
{
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<bool>("checkEcho");
    QTest::addColumn<bool>("failed");
    QTest::addColumn<int>("readResult");
    QTest::addColumn<QByteArray>("reply"); // after the exchange

    QByteArray indexed = padded("Ee", kPayloadSize);
    for (int i = 2; i < kPayloadSize; ++i)
        indexed[i] = static_cast<char>(i);

    // Row tags name the scripts in scripts/.
    QTest::newRow("good_echo") << indexed << true << false << 64
                               << QByteArray("eE") + kAlphanumerics;
    QTest::newRow("wrong_echo") << QByteArray("Ee") << true << true << 64
                                << padded("Ee", kReplySize);
    QTest::newRow("short_reply") << QByteArray("Ee") << true << true << 32 << marker();
    QTest::newRow("unchecked_reply")
        << QByteArray("Rr\0\0\0\x40", 6) << false << false << 64 << QByteArray(kHexDigits);
}

void HidrawChannelTest::exchange()
{
    QFETCH(QByteArray, payload);
    QFETCH(bool, checkEcho);
    QFETCH(bool, failed);
    QFETCH(int, readResult);
    QFETCH(QByteArray, reply);

    CommandChannel channel;
    QVERIFY(!channel.openChannel());
    prepare(channel, payload);
    QCOMPARE(channel.exchange(checkEcho), failed);
    QCOMPARE(replyOf(channel), reply);

    const tap::Log &log = tap::log();
    QCOMPARE(log.traffic.size(), std::size_t(2));
    QCOMPARE(bytesOf(log.traffic[0].bytes), QByteArray(1, '\0') + padded(payload, kPayloadSize));
    QCOMPARE(log.writeResults, std::vector<int>{kReportSize});
    QCOMPARE(log.reads.size(), std::size_t(1));
    QCOMPARE(log.reads[0].timeoutMs, kReplyTimeoutMs);
    QCOMPARE(log.reads[0].result, readResult);
    channel.closeChannel();
}

void HidrawChannelTest::noReply()
{
    CommandChannel channel;
    QVERIFY(!channel.openChannel());
    prepare(channel, "Ee");
    QElapsedTimer timer;
    timer.start();
    QVERIFY(channel.exchange(true));
    QVERIFY2(timer.elapsed() >= kTimeoutLowerBoundMs, "the read gave up before its time-out");
    QCOMPARE(replyOf(channel), marker());
    QCOMPARE(tap::log().reads.size(), std::size_t(1));
    QCOMPARE(tap::log().reads[0].timeoutMs, kReplyTimeoutMs);
    QCOMPARE(tap::log().reads[0].result, 0);
    channel.closeChannel();
}

// A reply that misses its read is taken by the next one; the echo check then catches the mix-up.
void HidrawChannelTest::lateReply()
{
    CommandChannel channel;
    channel.setReplyTimeout(kShortTimeoutMs);
    QVERIFY(!channel.openChannel());
    prepare(channel, "Ee");
    QElapsedTimer timer;
    timer.start();
    QVERIFY(channel.exchange(true));
    QVERIFY2(timer.elapsed() >= kShortTimeoutLowerBoundMs, "the read gave up before its time-out");
    QCOMPARE(replyOf(channel), marker());

    channel.putCommand('C', 'c');
    QVERIFY(channel.exchange(true));
    QCOMPARE(replyOf(channel), echo('E', 'e'));

    QVERIFY(!channel.readReply());
    QCOMPARE(replyOf(channel), echo('C', 'c'));

    const std::vector<tap::ReadCall> &reads = tap::log().reads;
    QCOMPARE(reads.size(), std::size_t(3));
    const int results[] = {0, kReplySize, kReplySize};
    for (std::size_t i = 0; i < reads.size(); ++i) {
        QCOMPARE(reads[i].timeoutMs, kShortTimeoutMs);
        QCOMPARE(reads[i].result, results[i]);
    }
    channel.closeChannel();
}

// A reply that comes after its read gave up, but before the next report, is discarded: the next
// exchange gets its own reply.
void HidrawChannelTest::staleReplyDiscarded()
{
    CommandChannel channel;
    channel.setReplyTimeout(kShortTimeoutMs);
    QVERIFY(!channel.openChannel());
    prepare(channel, "Ee");
    QVERIFY(channel.exchange(true));
    QCOMPARE(tap::log().reads[0].timeoutMs, kShortTimeoutMs);
    // The script sends the echo 1.5 s after the report, half a second after the read gave up.
    QTest::qWait(1500);

    channel.putCommand('C', 'c');
    QVERIFY(!channel.exchange(true));
    QCOMPARE(replyOf(channel), echo('C', 'c'));
    const std::vector<tap::ReadCall> &reads = tap::log().reads;
    QCOMPARE(reads.size(), std::size_t(3));
    QCOMPARE(reads[1].timeoutMs, 0);
    QCOMPARE(reads[1].result, kReplySize);
    channel.closeChannel();
}

void HidrawChannelTest::readReplyTakesSecondReply()
{
    CommandChannel channel;
    QVERIFY(!channel.openChannel());
    prepare(channel, "Nn");
    QVERIFY(!channel.exchange(false));
    QCOMPARE(replyOf(channel), QByteArray(kAlphanumerics) + "!?");
    const std::size_t written = tap::log().writeResults.size();
    QVERIFY(!channel.readReply());
    QCOMPARE(replyOf(channel), QByteArray(kHexDigits));
    QCOMPARE(tap::log().writeResults.size(), written);
    QCOMPARE(tap::log().reads.size(), std::size_t(2));
    QCOMPARE(tap::log().reads[1].result, kReplySize);
    channel.closeChannel();
}

// Close gives the node back and ends the library; a new open starts it again by itself.
void HidrawChannelTest::openExchangeCloseReopen()
{
    using Calls = std::vector<std::string>;
    const std::vector<std::string> &calls = tap::log().calls;
    CommandChannel channel;
    QCOMPARE(descriptorsOnNode(), 0);
    QVERIFY(!channel.openChannel());
    QVERIFY(channel.isOpen());
    QCOMPARE(descriptorsOnNode(), 1);
    QVERIFY(!channel.openChannel());
    QCOMPARE(calls, Calls{"hid_open"});
    prepare(channel, "Ee");
    QVERIFY(!channel.exchange(true));

    channel.closeChannel();
    QVERIFY(!channel.isOpen());
    QCOMPARE(calls, (Calls{"hid_open", "hid_close", "hid_exit"}));
    QCOMPARE(descriptorsOnNode(), 0);

    QVERIFY(!channel.openChannel());
    QCOMPARE(descriptorsOnNode(), 1);
    prepare(channel, "Ee");
    QVERIFY(!channel.exchange(true));
    QCOMPARE(replyOf(channel), echo('E', 'e'));
    channel.closeChannel();
    QCOMPARE(calls,
             (Calls{"hid_open", "hid_close", "hid_exit", "hid_open", "hid_close", "hid_exit"}));
    QCOMPARE(descriptorsOnNode(), 0);
}

void HidrawChannelTest::openWithoutPanel()
{
    CommandChannel channel;
    QVERIFY(channel.openChannel());
    QVERIFY(!channel.isOpen());
    channel.closeChannel();
    QCOMPARE(tap::log().calls, (std::vector<std::string>{"hid_open", "hid_exit"}));
}

QTEST_GUILESS_MAIN(HidrawChannelTest)
#include "tst_hidraw_channel.moc"
