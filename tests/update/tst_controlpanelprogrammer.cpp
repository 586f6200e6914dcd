// The ControlPanel's page walks against the simulated ControlPanel in its bootloader: exact
// traffic, the result of every kind of failure, and what the device holds afterwards.
#include "ControlPanelProgrammer.h"
#include "ProgrammerFixture.h"
#include "TargetProfile.h"
#include "TestDevices.h"

#include <QtTest>

using sim::Fault;
using sim::FaultKind;
using sim::FaultTrigger;

Q_DECLARE_METATYPE(sim::FaultKind)

namespace {

// Pages 0 and 1 (one row), pages 5 and 6 (their row's first page is blank), page 8 with a single
// byte, a page above 64 KiB and the last page that may hold data; page 3 holds only 0xFF.
std::vector<Block> sampleBlocks()
{
    return {{0x0000, pattern(100, 1, 7)},    {0x00C0, QByteArray(64, char(0xFF))},
            {0x0140, pattern(100, 0x40, 7)}, {0x0210, QByteArray(1, char(0x00))},
            {0x10040, pattern(64, 0x90, 7)}, {0x3FC00, pattern(0x18, 0x33, 7)}};
}

const std::vector<std::uint32_t> samplePages{0, 1, 5, 6, 8, 1025, 4080};

std::unique_ptr<ProgrammerRun> program(const QByteArray &hex)
{
    return runProgrammer(kControlPanelTarget, hex);
}

TrafficModel expectedTraffic(const FirmwareImage &image, const std::vector<std::uint32_t> &pages)
{
    TrafficModel model;
    model.command('C', 'c');
    for (std::uint32_t page : pages) {
        if (page % 4 == 0)
            model.command32('X', 'x', page * 64);
        model.command32('Y', 'y', page * 64);
        model.data(image.data() + page * 64);
    }
    for (std::uint32_t page : pages)
        model.command32('R', 'r', page * 64);
    return model;
}

QStringList progressOf(int usedPages)
{
    QStringList events{QString("writing %1").arg(usedPages)};
    for (int i = 1; i <= usedPages; ++i)
        events << QString("step %1").arg(i);
    events << QString("verifying %1").arg(usedPages);
    for (int i = 1; i <= usedPages; ++i)
        events << QString("step %1").arg(i);
    return events << "finish";
}

} // namespace

class ControlPanelProgrammerTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        devices().reset();
        devices().setPanelState(sim::PanelState::Bootloader);
    }

    void writesAndVerifiesEveryUsedPage();
    void emptyImageStillStarts();
    void failures_data();
    void failures();
    void rowCommandOutcomeIgnored_data();
    void rowCommandOutcomeIgnored();
};

void ControlPanelProgrammerTest::writesAndVerifiesEveryUsedPage()
{
    devices().panelFlash().fill(0x00);
    const std::vector<Block> blocks = sampleBlocks();
    const auto image = imageOf(blocks);
    const auto run = program(hexFile(blocks));
    QCOMPARE(run->result, QString());

    const TrafficModel expected = expectedTraffic(*image, samplePages);
    QCOMPARE(describe(devices().reportsWritten()), describe(expected.reports));
    QCOMPARE(run->progress.events, progressOf(int(samplePages.size())));

    // Whole pages were written: 0xFF where the file gave nothing, the rest of a row erased.
    const auto &flash = devices().panelFlash();
    for (std::uint32_t page : samplePages)
        for (std::uint32_t i = page * 64; i < page * 64 + 64; ++i)
            QCOMPARE(flash[i], (*image)[i]);
    QCOMPARE(flash[0x80], 0xFF);  // page 2: erased with its row, not written
    QCOMPARE(flash[0x100], 0x00); // page 4: its row was never erased
}

void ControlPanelProgrammerTest::emptyImageStillStarts()
{
    const auto run = program(":00000001FF\n");
    QCOMPARE(run->result, QString());
    TrafficModel expected;
    expected.command('C', 'c');
    QCOMPARE(describe(devices().reportsWritten()), describe(expected.reports));
    QCOMPARE(run->progress.events, QStringList({"writing 0", "verifying 0", "finish"}));
}

void ControlPanelProgrammerTest::failures_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<int>("report"); // where the fault strikes; -1 for none
    QTest::addColumn<FaultKind>("fault");
    QTest::addColumn<int>("faultByte");
    QTest::addColumn<int>("faultMask");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("reportsSent");
    QTest::addColumn<int>("steps"); // progress steps taken before the end; -1: no progress at all

    const QByteArray sample = hexFile(sampleBlocks());
    // Reports of the sample: 0 start; 1 row, 2 page, 3 data (page 0); 4 page, 5 data (page 1);
    // 6 page, 7 data (page 5); 8, 9 (page 6); 10 row, 11 page, 12 data (page 8); 13, 14
    // (page 1025); 15 row, 16 page, 17 data (page 4080); 18-24 reads, one a page.
    QTest::newRow("file refused") << QByteArray(":0100000001FD\n") << -1 << FaultKind::NoReply << 0
                                  << 1 << "Checksum Error line 1. Sum:FE Check:FD" << 0 << -1;
    QTest::newRow("start unanswered")
        << sample << 0 << FaultKind::NoReply << 0 << 1 << "USB communication error" << 1 << -1;
    QTest::newRow("start not echoed")
        << sample << 0 << FaultKind::WrongEcho << 0 << 1 << "USB communication error" << 1 << -1;
    QTest::newRow("page command fails") << sample << 4 << FaultKind::FailedWrite << 0 << 1
                                        << "USB communication error during programming" << 5 << 1;
    QTest::newRow("data packet not echoed")
        << sample << 7 << FaultKind::WrongEcho << 0 << 1
        << "USB communication error during programming" << 8 << 2;
    QTest::newRow("read command times out")
        << sample << 22 << FaultKind::NoReply << 0 << 1
        << "USB communication error during verification" << 23 << 11;
    QTest::newRow("read reply short") << sample << 19 << FaultKind::ShortReply << 0 << 1
                                      << "USB communication error during verification" << 20 << 8;
    QTest::newRow("flash byte wrong") << sample << 5 << FaultKind::CorruptFlash << 3 << 0x10
                                      << "\nError: Address 0x00043  Actual 0x%1  Expected 0x%2\n"
                                      << 20 << 8;
    QTest::newRow("first byte of chunk") << sample << 18 << FaultKind::CorruptReadBack << 0 << 0x80
                                         << "\nError: Address 0x00000  Actual 0x81  Expected 0x01\n"
                                         << 19 << 7;
    QTest::newRow("mismatch at 0x1040")
        << hexFile({{0x1040, QByteArray("\x0C", 1)}}) << 3 << FaultKind::CorruptReadBack << 0
        << 0x0C << "\nError: Address 0x01040  Actual 0x00  Expected 0x0c\n"
        << 4 << 1;
}

void ControlPanelProgrammerTest::failures()
{
    QFETCH(QByteArray, hex);
    QFETCH(int, report);
    QFETCH(FaultKind, fault);
    QFETCH(int, faultByte);
    QFETCH(int, faultMask);
    QFETCH(QString, result);
    QFETCH(int, reportsSent);
    QFETCH(int, steps);

    if (result.contains("%1")) {
        // The byte that the flash fault altered, as the image holds it and as it reads back.
        const auto image = imageOf(sampleBlocks());
        const std::uint8_t byte = (*image)[0x40 + std::uint32_t(faultByte)];
        result = result.arg(byte ^ faultMask, 2, 16, QChar('0')).arg(byte, 2, 16, QChar('0'));
    }
    if (report >= 0)
        devices().injectFault(FaultTrigger::atReport(report),
                              Fault{fault, faultByte, std::uint8_t(faultMask)});
    const auto run = program(hex);
    QCOMPARE(run->result, result);
    QCOMPARE(devices().reportCount(), reportsSent);

    if (steps < 0) {
        QVERIFY(run->progress.events.isEmpty());
    } else {
        QCOMPARE(run->progress.events.last(), QString("finish"));
        const QStringList stepsTaken = run->progress.events.filter("step ");
        QCOMPARE(stepsTaken.size(), steps);
    }
}

void ControlPanelProgrammerTest::rowCommandOutcomeIgnored_data()
{
    QTest::addColumn<FaultKind>("fault");
    QTest::newRow("unanswered") << FaultKind::NoReply;
    QTest::newRow("refused") << FaultKind::WrongEcho;
    QTest::newRow("write failed") << FaultKind::FailedWrite;
    QTest::newRow("short reply") << FaultKind::ShortReply;
}

void ControlPanelProgrammerTest::rowCommandOutcomeIgnored()
{
    QFETCH(FaultKind, fault);
    devices().injectFault(FaultTrigger::onCommand('X', 'x', 1), Fault{fault});
    const std::vector<Block> blocks = sampleBlocks();
    const auto run = program(hexFile(blocks));
    QCOMPARE(run->result, QString());
    QCOMPARE(describe(devices().reportsWritten()),
             describe(expectedTraffic(*imageOf(blocks), samplePages).reports));
}

QTEST_GUILESS_MAIN(ControlPanelProgrammerTest)
#include "tst_controlpanelprogrammer.moc"
