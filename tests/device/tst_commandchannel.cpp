// The command channel against the simulated ControlPanel: what goes out, what comes back, and
// what a failure leaves behind.
#include "CommandChannel.h"
#include "SimulatedDevices.h"

#include <QtTest>

#include <cstring>
#include <optional>

using sim::Fault;
using sim::FaultKind;
using sim::FaultTrigger;
using sim::SimulatedDevices;
using sim::TrafficRecord;

Q_DECLARE_METATYPE(sim::PanelState)
Q_DECLARE_METATYPE(sim::FaultKind)
Q_DECLARE_METATYPE(std::optional<sim::FaultKind>)

namespace {

SimulatedDevices &devices()
{
    return SimulatedDevices::instance();
}

QByteArray replyOf(const CommandChannel &channel)
{
    return QByteArray(reinterpret_cast<const char *>(channel.reply), kReplySize);
}

} // namespace

class CommandChannelTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { devices().reset(); }

    void echoRules_data();
    void echoRules();
    void failedReadKeepsReply_data();
    void failedReadKeepsReply();
    void failedWriteReadsNothing_data();
    void failedWriteReadsNothing();
    void strayReportsNeverAnswerTheNext_data();
    void strayReportsNeverAnswerTheNext();
    void readReplyTakesSecondReport();
    void handedInReplyTimeout();
    void payloadStartsZeroAndKeepsLeftovers();
    void closeCallsExitWithOrWithoutHandle();
    void openReusesHandle();
    void openTakesFirstOfTwoDevices();
    void openFailsWithoutDevice();
};

void CommandChannelTest::echoRules_data()
{
    QTest::addColumn<sim::PanelState>("state");
    QTest::addColumn<char>("first");
    QTest::addColumn<char>("second");
    QTest::addColumn<std::optional<FaultKind>>("fault");
    QTest::addColumn<bool>("checkEcho");
    QTest::addColumn<bool>("failed");

    const auto app = sim::PanelState::Application;
    const auto boot = sim::PanelState::Bootloader;
    const std::optional<FaultKind> none;
    const std::optional<FaultKind> wrongEcho = FaultKind::WrongEcho;
    const std::optional<FaultKind> shortReply = FaultKind::ShortReply;
    QTest::newRow("E,e answered e,E") << app << 'E' << 'e' << none << true << false;
    QTest::newRow("E,e answered E,e") << app << 'E' << 'e' << wrongEcho << true << true;
    QTest::newRow("b,B answered B,b") << boot << 'b' << 'B' << none << true << false;
    QTest::newRow("b,B answered b,B") << boot << 'b' << 'B' << wrongEcho << true << true;
    QTest::newRow("unknown command refused") << app << 'Q' << 'q' << none << true << true;
    QTest::newRow("echo off takes any reply") << app << 'E' << 'e' << wrongEcho << false << false;
    QTest::newRow("echo off takes a refusal") << app << 'Q' << 'q' << none << false << false;
    QTest::newRow("short reply, echo on") << app << 'E' << 'e' << shortReply << true << true;
    QTest::newRow("short reply, echo off") << app << 'E' << 'e' << shortReply << false << true;
}

void CommandChannelTest::echoRules()
{
    QFETCH(sim::PanelState, state);
    QFETCH(char, first);
    QFETCH(char, second);
    QFETCH(std::optional<FaultKind>, fault);
    QFETCH(bool, checkEcho);
    QFETCH(bool, failed);

    devices().setPanelState(state);
    if (fault)
        devices().injectFault(FaultTrigger::atReport(0), Fault{*fault});
    CommandChannel channel;
    QVERIFY(!channel.openChannel());
    channel.putCommand(first, second);
    QCOMPARE(channel.exchange(checkEcho), failed);
    QCOMPARE(devices().lastReadTimeoutMs(), kReplyTimeoutMs);

    const auto reports = devices().reportsWritten();
    QCOMPARE(reports.size(), std::size_t(1));
    QCOMPARE(reports[0].size(), std::size_t(kReportSize));
    QCOMPARE(reports[0][0], std::uint8_t(0));
    QCOMPARE(reports[0][1], std::uint8_t(first));
    QCOMPARE(reports[0][2], std::uint8_t(second));
}

void CommandChannelTest::failedReadKeepsReply_data()
{
    QTest::addColumn<FaultKind>("fault");
    QTest::addColumn<bool>("checkEcho");
    QTest::newRow("no reply, echo on") << FaultKind::NoReply << true;
    QTest::newRow("no reply, echo off") << FaultKind::NoReply << false;
    QTest::newRow("short reply, echo on") << FaultKind::ShortReply << true;
    QTest::newRow("short reply, echo off") << FaultKind::ShortReply << false;
}

void CommandChannelTest::failedReadKeepsReply()
{
    QFETCH(FaultKind, fault);
    QFETCH(bool, checkEcho);

    devices().setPanelState(sim::PanelState::Bootloader);
    devices().panelFlash()[0x40] = 0x5A;
    devices().injectFault(FaultTrigger::onCommand('E', 'e'), Fault{fault});
    CommandChannel channel;
    QVERIFY(!channel.openChannel());
    channel.putCommand('R', 'r');
    std::memcpy(channel.command + 2, "\x00\x00\x00\x40", 4);
    QVERIFY(!channel.exchange(false));
    const QByteArray before = replyOf(channel);
    QCOMPARE(before.at(0), char(0x5A));

    channel.putCommand('E', 'e');
    QVERIFY(channel.exchange(checkEcho));
    QCOMPARE(replyOf(channel), before);
    QVERIFY(channel.readReply());
    QCOMPARE(replyOf(channel), before);
}

void CommandChannelTest::failedWriteReadsNothing_data()
{
    QTest::addColumn<FaultKind>("fault");
    QTest::newRow("failed write") << FaultKind::FailedWrite;
    QTest::newRow("short write") << FaultKind::ShortWrite;
}

void CommandChannelTest::failedWriteReadsNothing()
{
    QFETCH(FaultKind, fault);

    devices().injectFault(FaultTrigger::atReport(1), Fault{fault});
    CommandChannel channel;
    QVERIFY(!channel.openChannel());
    channel.putCommand('E', 'e');
    QVERIFY(!channel.exchange(true));
    const int readsBefore = devices().readCount();
    const QByteArray before = replyOf(channel);

    QVERIFY(channel.exchange(true));
    QCOMPARE(devices().readCount(), readsBefore);
    QCOMPARE(replyOf(channel), before);
    QVERIFY(channel.isOpen());
}

void CommandChannelTest::strayReportsNeverAnswerTheNext_data()
{
    QTest::addColumn<FaultKind>("fault");
    QTest::addColumn<bool>("firstFails");
    QTest::newRow("late reply") << FaultKind::LateReply << true;
    QTest::newRow("duplicated reply") << FaultKind::DuplicatedReply << false;
    QTest::newRow("unsolicited report") << FaultKind::Unsolicited << false;
}

// Whatever the device leaves waiting after an exchange is discarded before the next report goes
// out, so a read-back without echo gets its own data and not the echo before it.
void CommandChannelTest::strayReportsNeverAnswerTheNext()
{
    QFETCH(FaultKind, fault);
    QFETCH(bool, firstFails);

    devices().setPanelState(sim::PanelState::Bootloader);
    devices().panelFlash()[0x40] = 0x5A;
    devices().panelFlash()[0x41] = 0xC3;
    // The bootloader's start command, which it echoes (it refuses the connection check).
    devices().injectFault(FaultTrigger::onCommand('C', 'c'), Fault{fault});
    CommandChannel channel;
    QVERIFY(!channel.openChannel());
    channel.putCommand('C', 'c');
    QCOMPARE(channel.exchange(true), firstFails);

    channel.putCommand('R', 'r');
    std::memcpy(channel.command + 2, "\x00\x00\x00\x40", 4);
    QVERIFY(!channel.exchange(false));
    QCOMPARE(channel.reply[0], std::uint8_t(0x5A));
    QCOMPARE(channel.reply[1], std::uint8_t(0xC3));
    QCOMPARE(devices().readCount(), 2);
    // Nothing more is on its way.
    QVERIFY(channel.readReply());
    QCOMPARE(channel.reply[0], std::uint8_t(0x5A));
}

void CommandChannelTest::readReplyTakesSecondReport()
{
    devices().enterBoardBootloader();
    for (int i = 0; i < 128; ++i)
        devices().boardFlash()[0x80 + i] = static_cast<std::uint8_t>(i);
    CommandChannel channel;
    QVERIFY(!channel.openChannel());
    channel.putCommand('L', 'l');
    channel.command[2] = 0x00;
    channel.command[3] = 0x80;
    QVERIFY(!channel.exchange(true));
    channel.putCommand('N', 'n');
    QVERIFY(!channel.exchange(false));
    QCOMPARE(channel.reply[0], std::uint8_t(0));
    QCOMPARE(channel.reply[63], std::uint8_t(63));
    QVERIFY(!channel.readReply());
    QCOMPARE(channel.reply[0], std::uint8_t(64));
    QCOMPARE(channel.reply[63], std::uint8_t(127));
    // Nothing more is on its way.
    QVERIFY(channel.readReply());
    QCOMPARE(channel.reply[63], std::uint8_t(127));
}

// A time-out handed in waits for the reply of an exchange and for a further reply alike.
void CommandChannelTest::handedInReplyTimeout()
{
    CommandChannel channel;
    channel.setReplyTimeout(250);
    QVERIFY(!channel.openChannel());
    channel.putCommand('E', 'e');
    QVERIFY(!channel.exchange(true));
    QCOMPARE(devices().lastReadTimeoutMs(), 250);
    QVERIFY(channel.readReply()); // nothing more comes
    QCOMPARE(devices().lastReadTimeoutMs(), 250);
}

void CommandChannelTest::payloadStartsZeroAndKeepsLeftovers()
{
    devices().setPanelState(sim::PanelState::Bootloader);
    CommandChannel channel;
    QVERIFY(!channel.openChannel());
    channel.putCommand('C', 'c');
    QVERIFY(!channel.exchange(true));
    channel.putCommand('Y', 'y');
    std::memset(channel.command + 2, 0, 4);
    QVERIFY(!channel.exchange(true));
    for (int i = 0; i < kPayloadSize; ++i)
        channel.command[i] = static_cast<std::uint8_t>(0xA0 + i / 2);
    QVERIFY(!channel.exchange(true));
    channel.putCommand('R', 'r');
    std::memset(channel.command + 2, 0, 4);
    QVERIFY(!channel.exchange(false));

    const auto reports = devices().reportsWritten();
    QCOMPARE(reports.size(), std::size_t(4));
    const std::vector<std::uint8_t> &first = reports[0];
    QVERIFY(std::all_of(first.begin() + 3, first.end(), [](std::uint8_t b) { return b == 0; }));
    const std::vector<std::uint8_t> &data = reports[2];
    const std::vector<std::uint8_t> &read = reports[3];
    QCOMPARE(read[1], std::uint8_t('R'));
    QCOMPARE(read[2], std::uint8_t('r'));
    // Bytes 6 to 63 of the read command still hold the data packet's tail.
    QVERIFY(std::equal(read.begin() + 7, read.end(), data.begin() + 7));
    QCOMPARE(read[64], std::uint8_t(0xA0 + 63 / 2));
    // The read-back shows the packet landed at offset 0.
    QCOMPARE(channel.reply[0], std::uint8_t(0xA0));
}

void CommandChannelTest::closeCallsExitWithOrWithoutHandle()
{
    CommandChannel channel;
    channel.closeChannel();
    QCOMPARE(devices().closeCount(), 0);
    QCOMPARE(devices().exitCount(), 1);

    QVERIFY(!channel.openChannel());
    QVERIFY(channel.isOpen());
    channel.closeChannel();
    QVERIFY(!channel.isOpen());
    QCOMPARE(devices().closeCount(), 1);
    QCOMPARE(devices().exitCount(), 2);
    QCOMPARE(devices().openHandles(), 0);

    // The library comes back by itself on the next open.
    QVERIFY(!channel.openChannel());
    channel.putCommand('E', 'e');
    QVERIFY(!channel.exchange(true));
}

void CommandChannelTest::openReusesHandle()
{
    {
        CommandChannel channel;
        QVERIFY(!channel.openChannel());
        QVERIFY(!channel.openChannel());
        QCOMPARE(devices().openCount(), 1);
        QCOMPARE(devices().openHandles(), 1);
    }
    // A channel that goes while it holds a handle still lets it go.
    QCOMPARE(devices().openHandles(), 0);
    QCOMPARE(devices().closeCount(), 1);
    QCOMPARE(devices().exitCount(), 1);
}

void CommandChannelTest::openTakesFirstOfTwoDevices()
{
    devices().setDeviceCount(2);
    CommandChannel channel;
    QVERIFY(!channel.openChannel());
    channel.putCommand('E', 'e');
    QVERIFY(!channel.exchange(true));
    for (const TrafficRecord &record : devices().traffic())
        QCOMPARE(record.device, 0);
    QCOMPARE(devices().traffic().size(), std::size_t(2));
}

void CommandChannelTest::openFailsWithoutDevice()
{
    devices().setDeviceCount(0);
    CommandChannel channel;
    QVERIFY(channel.openChannel());
    QVERIFY(!channel.isOpen());
    QCOMPARE(devices().openCount(), 1);
}

QTEST_GUILESS_MAIN(CommandChannelTest)
#include "tst_commandchannel.moc"
