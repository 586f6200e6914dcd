// Every fault the simulated devices can inject (every FaultKind), at every report of a programming
// call of each target. Each time the call must name the phase where the fault struck, send nothing
// past the failure, and send the control board's boot exit only after a faultless read-back. A call
// reports success only where the fault strikes a reply the protocol ignores or a stray report
// the channel discards, and then the image must be on the device.
#include "PageWalk.h"
#include "ProgrammerFixture.h"
#include "TargetProfile.h"
#include "TestDevices.h"
#include "TestTarget.h"
#include "UpdateTarget.h"

#include <QtTest>

using sim::Fault;
using sim::FaultKind;
using sim::FaultTrigger;

namespace {

// What a report is for in the call.
enum class Role
{
    Start,
    Row,
    Page,
    Data,
    Read,
    Address,
    WritePage,
    FirstHalf,
    SecondHalf,
    VerifyAddress,
    ReadPage,
    BootExit,
};

struct Report
{
    Role role;
    std::uint32_t offset; // the image offset the report concerns
    int readIndex;        // for data-carrying reports: the report that reads their page back
};

// ControlPanel pages 0 and 1 (a row), and page 6, whose row's first page is blank.
const std::vector<Block> panelBlocks{{0x0000, pattern(128, 0x10, 3)},
                                     {0x0180, pattern(64, 0x90, 3)}};
// Control-board pages 0 and 2.
const std::vector<Block> boardBlocks{{0x0000, pattern(128, 0x20, 3)},
                                     {0x0100, pattern(100, 0xA0, 3)}};

std::vector<Report> panelReports()
{
    std::vector<Report> reports{{Role::Start, 0, -1}};
    const std::uint32_t pages[] = {0, 1, 6};
    for (int i = 0; i < 3; ++i) {
        if (pages[i] % 4 == 0)
            reports.push_back({Role::Row, pages[i] * 64, -1});
        reports.push_back({Role::Page, pages[i] * 64, -1});
        reports.push_back({Role::Data, pages[i] * 64, -1});
    }
    for (int i = 0; i < 3; ++i) {
        for (Report &report : reports)
            if (report.role == Role::Data && report.offset == pages[i] * 64)
                report.readIndex = int(reports.size());
        reports.push_back({Role::Read, pages[i] * 64, -1});
    }
    return reports;
}

std::vector<Report> boardReports()
{
    std::vector<Report> reports;
    const std::uint32_t pages[] = {0, 2};
    for (std::uint32_t page : pages) {
        reports.push_back({Role::Address, page * 128, -1});
        reports.push_back({Role::WritePage, page * 128, -1});
        reports.push_back({Role::FirstHalf, page * 128, -1});
        reports.push_back({Role::SecondHalf, page * 128 + 64, -1});
    }
    for (std::uint32_t page : pages) {
        reports.push_back({Role::VerifyAddress, page * 128, -1});
        for (Report &report : reports)
            if ((report.role == Role::FirstHalf || report.role == Role::SecondHalf) &&
                report.offset / 128 == page)
                report.readIndex = int(reports.size());
        reports.push_back({Role::ReadPage, page * 128, -1});
    }
    reports.push_back({Role::BootExit, 0, -1});
    return reports;
}

QString mismatch(std::uint32_t address, std::uint8_t actual, std::uint8_t expected)
{
    return QString::asprintf("\nError: Address 0x%05x  Actual 0x%02x  Expected 0x%02x\n", address,
                             actual, expected);
}

QString phaseError(Role role)
{
    switch (role) {
    case Role::Start:
        return kUsbError;
    case Role::Row:
    case Role::Page:
    case Role::Data:
    case Role::Address:
    case Role::WritePage:
    case Role::FirstHalf:
    case Role::SecondHalf:
        return kProgrammingError;
    case Role::Read:
    case Role::VerifyAddress:
    case Role::ReadPage:
        return kVerificationError;
    case Role::BootExit:
        return kBootExitError;
    }
    return {};
}

struct Outcome
{
    QString result;
    int reportsSent;
};

// What the call must end with when the fault strikes report `index`.
Outcome expectedOutcome(const std::vector<Report> &reports, int index, const Fault &fault,
                        const FirmwareImage &image)
{
    const Report &report = reports[std::size_t(index)];
    const int all = int(reports.size());
    switch (fault.kind) {
    case FaultKind::CorruptFlash: {
        const std::uint32_t address = report.offset + std::uint32_t(fault.byte);
        return {mismatch(address, image[address] ^ fault.mask, image[address]),
                report.readIndex + 1};
    }
    case FaultKind::CorruptReadBack: {
        const std::uint32_t address = report.offset + std::uint32_t(fault.byte);
        return {mismatch(address, image[address] ^ fault.mask, image[address]), index + 1};
    }
    case FaultKind::WrongEcho:
        // Harmless where the protocol ignores the reply; read-back data is compared instead.
        if (report.role == Role::Row || report.role == Role::FirstHalf)
            return {QString(), all};
        if (report.role == Role::Read || report.role == Role::ReadPage) {
            const std::uint8_t first = image[report.offset];
            const std::uint8_t second = image[report.offset + 1];
            if (first == second)
                return {mismatch(report.offset, first ^ 0x20, first), index + 1};
            return {mismatch(report.offset, second, first), index + 1};
        }
        return {phaseError(report.role), index + 1};
    case FaultKind::WrongSecondByte: {
        if (report.role == Role::Row || report.role == Role::FirstHalf)
            return {QString(), all};
        const std::uint32_t address = report.offset + 1;
        if (report.role == Role::Read || report.role == Role::ReadPage)
            return {mismatch(address, image[address] ^ 0x01, image[address]), index + 1};
        return {phaseError(report.role), index + 1};
    }
    case FaultKind::DuplicatedReply:
        // The copy of a page's first half takes the place of its second half; every other
        // extra reply is discarded before the next report.
        if (report.role == Role::ReadPage) {
            for (std::uint32_t k = 0; k < 64; ++k) {
                const std::uint8_t first = image[report.offset + k];
                const std::uint8_t second = image[report.offset + 64 + k];
                if (first != second)
                    return {mismatch(report.offset + 64 + k, first, second), index + 1};
            }
        }
        return {QString(), all};
    case FaultKind::Unsolicited:
        return {QString(), all};
    default:
        // A late reply, too, is discarded before the next report: it cannot answer it.
        if (report.role == Role::Row)
            return {QString(), all};
        return {phaseError(report.role), index + 1};
    }
}

QString tagOf(FaultKind kind)
{
    switch (kind) {
    case FaultKind::NoReply:
        return "no reply";
    case FaultKind::LateReply:
        return "late reply";
    case FaultKind::ShortReply:
        return "short reply";
    case FaultKind::WrongEcho:
        return "wrong echo";
    case FaultKind::FailedWrite:
        return "failed write";
    case FaultKind::ShortWrite:
        return "short write";
    case FaultKind::CorruptFlash:
        return "corrupt flash";
    case FaultKind::CorruptReadBack:
        return "corrupt read-back";
    case FaultKind::DuplicatedReply:
        return "duplicated reply";
    case FaultKind::Unsolicited:
        return "unsolicited report";
    case FaultKind::WrongSecondByte:
        return "wrong second byte";
    }
    return {};
}

int casesRun = 0;

} // namespace

Q_DECLARE_METATYPE(sim::Fault)

class FaultSweepTest : public QObject
{
    Q_OBJECT

private slots:
    void sweep_data();
    void sweep();
    void cleanupTestCase() { qInfo("fault sweep: %d cases", casesRun); }
};

void FaultSweepTest::sweep_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<int>("index");
    QTest::addColumn<Fault>("fault");

    // Every kind strikes every report; the two that alter data strike three bytes of each report
    // that carries data to or from the flash.
    const auto altersData = [](FaultKind kind) {
        return kind == FaultKind::CorruptFlash || kind == FaultKind::CorruptReadBack;
    };
    for (Target target : {&kControlPanelTarget, &kControlBoardTarget}) {
        const bool panel = isPanel(target);
        const std::vector<Report> reports = panel ? panelReports() : boardReports();
        for (int index = 0; index < int(reports.size()); ++index) {
            const QString at = QString("%1 report %2").arg(panel ? "panel" : "board").arg(index);
            for (FaultKind kind : sim::kAllFaultKinds) {
                if (!altersData(kind))
                    QTest::newRow(qPrintable(at + " " + tagOf(kind)))
                        << target << index << Fault{kind};
            }
            const Role role = reports[std::size_t(index)].role;
            const bool storesData =
                role == Role::Data || role == Role::FirstHalf || role == Role::SecondHalf;
            const bool readsBack = role == Role::Read || role == Role::ReadPage;
            for (int byte : {0, 37, 63}) {
                if (storesData)
                    QTest::newRow(qPrintable(QString("%1 corrupt flash byte %2").arg(at).arg(byte)))
                        << target << index << Fault{FaultKind::CorruptFlash, byte, 0x01};
                if (readsBack)
                    QTest::newRow(
                        qPrintable(QString("%1 corrupt read-back byte %2").arg(at).arg(byte)))
                        << target << index << Fault{FaultKind::CorruptReadBack, byte, 0x80};
            }
        }
    }
}

void FaultSweepTest::sweep()
{
    QFETCH(Target, target);
    QFETCH(int, index);
    QFETCH(Fault, fault);
    ++casesRun;

    const bool panel = isPanel(target);
    const std::vector<Block> &blocks = panel ? panelBlocks : boardBlocks;
    const std::vector<Report> reports = panel ? panelReports() : boardReports();
    const auto image = imageOf(blocks);

    devices().reset();
    if (panel)
        devices().setPanelState(sim::PanelState::Bootloader);
    else
        devices().enterBoardBootloader();
    devices().injectFault(FaultTrigger::atReport(index), fault);

    const UpdateResult result = runProgrammer(*target, hexFile(blocks))->result;

    const Outcome expected = expectedOutcome(reports, index, fault, *image);
    QCOMPARE(result, expected.result);
    QCOMPARE(devices().reportCount(), expected.reportsSent);

    const auto sent = devices().reportsWritten();
    const bool bootExitSent = !panel && !sent.empty() && sent.back()[1] == 'O' &&
                              sent.back()[2] == 'o' && int(sent.size()) == int(reports.size());
    if (!panel)
        QCOMPARE(bootExitSent, result.isEmpty() || result == kBootExitError);

    if (result.isEmpty()) {
        // Success is said only when the image is on the device.
        for (const Block &block : blocks)
            for (int i = 0; i < block.bytes.size(); ++i) {
                const std::uint32_t address = block.address + std::uint32_t(i);
                const std::uint8_t held =
                    panel ? devices().panelFlash()[address] : devices().boardFlash()[address];
                QCOMPARE(held, (*image)[address]);
            }
    }
}

QTEST_GUILESS_MAIN(FaultSweepTest)
#include "tst_faultsweep.moc"
