// The control board's page walks against the simulated board behind the ControlPanel: exact
// traffic, the result of every kind of failure, and when the boot exit goes out.
#include "ControlBoardProgrammer.h"
#include "ProgrammerFixture.h"
#include "TargetProfile.h"
#include "TestDevices.h"

#include <QtTest>

using sim::Fault;
using sim::FaultKind;
using sim::FaultTrigger;

Q_DECLARE_METATYPE(sim::FaultKind)

namespace {

// Page 0 whole, page 1 from its second half on, a single byte in page 3, and the last page,
// which ends at the image limit; page 2 holds only 0xFF.
std::vector<Block> sampleBlocks()
{
    return {{0x0000, pattern(128, 3, 5)},
            {0x00C0, pattern(64, 0x80, 5)},
            {0x0100, QByteArray(128, char(0xFF))},
            {0x01A0, QByteArray(1, char(0x5A))},
            {0x7D80, pattern(128, 0x21, 5)}};
}

const std::vector<std::uint32_t> samplePages{0, 1, 3, 251};

std::unique_ptr<ProgrammerRun> program(const QByteArray &hex)
{
    return runProgrammer(kControlBoardTarget, hex);
}

TrafficModel expectedTraffic(const FirmwareImage &image, const std::vector<std::uint32_t> &pages)
{
    TrafficModel model;
    for (std::uint32_t page : pages) {
        model.command16('L', 'l', page * 128);
        model.command('M', 'm');
        model.data(image.data() + page * 128);
        model.data(image.data() + page * 128 + 64);
    }
    for (std::uint32_t page : pages) {
        model.command16('L', 'l', page * 128);
        model.command('N', 'n');
    }
    model.command('O', 'o');
    return model;
}

bool bootExitSent()
{
    for (const auto &report : devices().reportsWritten())
        if (report[1] == 'O' && report[2] == 'o')
            return true;
    return false;
}

} // namespace

class ControlBoardProgrammerTest : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        devices().reset();
        devices().enterBoardBootloader();
    }

    void writesVerifiesAndExits();
    void addressesOnTheWire();
    void emptyImageStillExits();
    void failures_data();
    void failures();
};

void ControlBoardProgrammerTest::writesVerifiesAndExits()
{
    devices().boardFlash().fill(0x00);
    const std::vector<Block> blocks = sampleBlocks();
    const auto image = imageOf(blocks);
    const auto run = program(hexFile(blocks));
    QCOMPARE(run->result, QString());
    QCOMPARE(describe(devices().reportsWritten()),
             describe(expectedTraffic(*image, samplePages).reports));
    QCOMPARE(run->progress.events,
             QStringList({"writing 4", "step 1", "step 2", "step 3", "step 4", "verifying 4",
                          "step 1", "step 2", "step 3", "step 4", "leaving 0", "finish"}));
    // 4 writes, 2 a page for reading back (each read-page answered twice), the boot exit.
    QCOMPARE(devices().readCount(), 4 * 4 + 4 * 3 + 1);
    const auto &flash = devices().boardFlash();
    for (std::uint32_t page : samplePages)
        for (std::uint32_t i = page * 128; i < page * 128 + 128; ++i)
            QCOMPARE(flash[i], (*image)[i]);
    QCOMPARE(flash[0x100], 0x00); // the all-0xFF page was never written
    QCOMPARE(devices().boardState(), sim::BoardState::Application);
}

void ControlBoardProgrammerTest::addressesOnTheWire()
{
    program(hexFile(sampleBlocks()));
    const auto reports = devices().reportsWritten();
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(reports[0].data()), 5),
             QByteArray("\0Ll\x00\x00", 5));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(reports[4].data()), 5),
             QByteArray("\0Ll\x00\x80", 5));
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(reports[12].data()), 5),
             QByteArray("\0Ll\x7D\x80", 5));
    // The write-page command still carries the address the set-address command left.
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(reports[13].data()), 5),
             QByteArray("\0Mm\x7D\x80", 5));
}

void ControlBoardProgrammerTest::emptyImageStillExits()
{
    const auto run = program(QByteArray());
    QCOMPARE(run->result, QString());
    TrafficModel expected;
    expected.command('O', 'o');
    QCOMPARE(describe(devices().reportsWritten()), describe(expected.reports));
    QCOMPARE(run->progress.events,
             QStringList({"writing 0", "verifying 0", "leaving 0", "finish"}));
}

void ControlBoardProgrammerTest::failures_data()
{
    QTest::addColumn<QByteArray>("hex");
    QTest::addColumn<int>("report"); // where the fault strikes; -1 for none
    QTest::addColumn<FaultKind>("fault");
    QTest::addColumn<int>("faultByte");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("reportsSent");
    QTest::addColumn<int>("reads"); // reads the walk made in all
    QTest::addColumn<int>("steps"); // -1: no progress at all

    const QByteArray sample = hexFile(sampleBlocks());
    const QString programming = "USB communication error during programming";
    const QString verification = "USB communication error during verification";
    // Reports of the sample: 0-3, 4-7, 8-11, 12-15 write pages 0, 1, 3, 251 (address,
    // write-page, two halves); 16-23 read them back (address, read-page); 24 boot exit.
    QTest::newRow("file refused") << QByteArray(":01000000F50B\n") << -1 << FaultKind::NoReply << 0
                                  << "Checksum Error line 1. Sum: A Check: B" << 0 << 0 << -1;
    QTest::newRow("address unanswered")
        << sample << 4 << FaultKind::NoReply << 0 << programming << 5 << 5 << 1;
    QTest::newRow("write-page not echoed")
        << sample << 1 << FaultKind::WrongEcho << 0 << programming << 2 << 2 << 0;
    QTest::newRow("first half unanswered")
        << sample << 6 << FaultKind::NoReply << 0 << programming << 7 << 7 << 1;
    QTest::newRow("first half's reply not examined")
        << sample << 2 << FaultKind::WrongEcho << 0 << QString() << 25 << 29 << 8;
    QTest::newRow("second half answered M,m")
        << sample << 7 << FaultKind::WrongEcho << 0 << programming << 8 << 8 << 1;
    QTest::newRow("second half write failed")
        << sample << 15 << FaultKind::FailedWrite << 0 << programming << 16 << 15 << 3;
    QTest::newRow("verify address fails")
        << sample << 18 << FaultKind::ShortReply << 0 << verification << 19 << 20 << 5;
    // One more read follows a failed read-page exchange: its second report, or nothing.
    QTest::newRow("read-page unanswered")
        << sample << 19 << FaultKind::NoReply << 0 << verification << 20 << 22 << 5;
    QTest::newRow("read-page reply short")
        << sample << 17 << FaultKind::ShortReply << 0 << verification << 18 << 19 << 4;
    QTest::newRow("read-page reply late")
        << sample << 17 << FaultKind::LateReply << 0 << verification << 18 << 19 << 4;
    QTest::newRow("read-page data compared, not echoed")
        << sample << 17 << FaultKind::WrongEcho << 0
        << "\nError: Address 0x00000  Actual 0x08  Expected 0x03\n"
        << 18 << 18 << 4;
    QTest::newRow("first byte of a page")
        << sample << 19 << FaultKind::CorruptReadBack << 0
        << "\nError: Address 0x00080  Actual 0xfe  Expected 0xff\n"
        << 20 << 21 << 5;
    QTest::newRow("byte 64 of page 1") << sample << 7 << FaultKind::CorruptFlash << 0
                                       << "\nError: Address 0x000c0  Actual 0x81  Expected 0x80\n"
                                       << 20 << 22 << 5;
    QTest::newRow("boot exit unanswered")
        << sample << 24 << FaultKind::NoReply << 0 << "USB communication error during boot exit"
        << 25 << 29 << 8;
}

void ControlBoardProgrammerTest::failures()
{
    QFETCH(QByteArray, hex);
    QFETCH(int, report);
    QFETCH(FaultKind, fault);
    QFETCH(int, faultByte);
    QFETCH(QString, result);
    QFETCH(int, reportsSent);
    QFETCH(int, reads);
    QFETCH(int, steps);

    if (report >= 0)
        devices().injectFault(FaultTrigger::atReport(report), Fault{fault, faultByte});
    const auto run = program(hex);
    QCOMPARE(run->result, result);
    QCOMPARE(devices().reportCount(), reportsSent);
    QCOMPARE(devices().readCount(), reads);
    QCOMPARE(bootExitSent(), result.isEmpty() || result.contains("boot exit"));
    if (steps < 0) {
        QVERIFY(run->progress.events.isEmpty());
    } else {
        QCOMPARE(run->progress.events.last(), QString("finish"));
        QCOMPARE(run->progress.events.filter("step ").size(), steps);
    }
}

QTEST_GUILESS_MAIN(ControlBoardProgrammerTest)
#include "tst_controlboardprogrammer.moc"
