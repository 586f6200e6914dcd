#include "HexLoader.h"

#include <QtTest>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>

namespace {

struct Span
{
    quint32 address;
    QByteArray bytes;
};
using Spans = QVector<Span>;

struct Outcome
{
    HexLoadResult result;
    FirmwareImage image;
    PageMap pageMap;
    std::uint32_t usedPages;
};

constexpr std::uint32_t kUntouched = 0xDEADBEEF;

const TargetProfile &profileOf(HexVariant variant)
{
    return variant == HexVariant::ControlPanel ? kControlPanelProfile : kControlBoardProfile;
}

// One record with a correct checksum, e.g. rec(0, 0x0100, "0102").
QByteArray rec(int type, quint32 address, const QByteArray &hexData)
{
    const QByteArray data = QByteArray::fromHex(hexData);
    int sum = data.size() + int(address >> 8) + int(address & 0xFF) + type;
    for (char byte : data) {
        sum += quint8(byte);
    }
    return ":" + QByteArray::number(data.size() + 0x100, 16).right(2) +
           QByteArray::number(address + 0x10000, 16).right(4) +
           QByteArray::number(type + 0x100, 16).right(2) + data.toHex() +
           QByteArray::number((-sum & 0xFF) + 0x100, 16).right(2);
}

std::unique_ptr<Outcome> loadFile(std::FILE *file, HexVariant variant)
{
    auto outcome = std::make_unique<Outcome>();
    outcome->pageMap.fill(kUntouched);
    outcome->usedPages = kUntouched;
    outcome->result = loadHexImage(file, profileOf(variant), variant, outcome->image,
                                   outcome->pageMap, outcome->usedPages);
    return outcome;
}

std::unique_ptr<Outcome> loadText(const QByteArray &text, HexVariant variant)
{
    std::FILE *file = std::tmpfile();
    if (!file) {
        return nullptr;
    }
    std::fwrite(text.constData(), 1, size_t(text.size()), file);
    std::rewind(file);
    auto outcome = loadFile(file, variant);
    std::fclose(file);
    return outcome;
}

// A stream that delivers text, at most blockSize characters a read, and then fails, as a disk or
// network file system may. Given resume, it fails once and then goes on with that text, as a read
// that timed out may. Unless it fails, it ends after the text.
struct StreamSource
{
    QByteArray text;
    QByteArray resume;
    qint64 blockSize = std::numeric_limits<qint64>::max();
    bool fails = true;
    qint64 position = 0;
};

ssize_t readSource(void *cookie, char *buffer, size_t size)
{
    auto *source = static_cast<StreamSource *>(cookie);
    const qint64 left = source->text.size() - source->position;
    if (left == 0 && !source->fails) {
        return 0;
    }
    if (left == 0) {
        source->text = source->resume;
        source->resume.clear();
        source->position = 0;
        errno = EIO;
        return -1;
    }
    const qint64 count = std::min({left, qint64(size), source->blockSize});
    memcpy(buffer, source->text.constData() + source->position, size_t(count));
    source->position += count;
    return count;
}

std::FILE *openSource(StreamSource &source)
{
    return fopencookie(&source, "r", {readSource, nullptr, nullptr, nullptr});
}

// Block sizes from 1 to one more than a line and its CR LF: across them, a block boundary falls at
// every position of every line, its line end included, and between a CR and its LF.
constexpr int kLargestBlock = kHexMaxLineLength + 3;

bool sameOutcome(const Outcome &a, const Outcome &b)
{
    return std::strcmp(a.result.message, b.result.message) == 0 &&
           a.result.lines == b.result.lines &&
           a.result.endOfFileRecord == b.result.endOfFileRecord && a.image == b.image &&
           a.pageMap == b.pageMap && a.usedPages == b.usedPages;
}

// The text read in blocks of every size up to kLargestBlock must load as it did from one block.
void verifySameInBlocks(const QByteArray &text, HexVariant variant, const Outcome &oneBlock)
{
    for (int blockSize = 1; blockSize <= kLargestBlock; ++blockSize) {
        StreamSource source{text, {}, blockSize, false};
        std::FILE *file = openSource(source);
        QVERIFY(file);
        const auto outcome = loadFile(file, variant);
        std::fclose(file);
        QVERIFY2(sameOutcome(*outcome, oneBlock),
                 qPrintable(QString("in blocks of %1: \"%2\" after %3 lines")
                                .arg(blockSize)
                                .arg(outcome->result.message)
                                .arg(outcome->result.lines)));
    }
}

// Compares the whole image, then every page map entry below pageCount against a plain count.
void verifyImage(const Outcome &outcome, HexVariant variant, const Spans &spans,
                 std::uint32_t usedPages)
{
    FirmwareImage expected;
    expected.fill(0xFF);
    for (const Span &span : spans) {
        std::copy(span.bytes.cbegin(), span.bytes.cend(), expected.begin() + span.address);
    }
    const auto mismatch = std::mismatch(expected.cbegin(), expected.cend(), outcome.image.cbegin());
    if (mismatch.first != expected.cend()) {
        QFAIL(qPrintable(QString("image differs at 0x%1: expected %2, loaded %3")
                             .arg(mismatch.first - expected.cbegin(), 5, 16, QChar('0'))
                             .arg(*mismatch.first, 2, 16)
                             .arg(*mismatch.second, 2, 16)));
    }

    const TargetProfile &profile = profileOf(variant);
    for (std::uint32_t page = 0; page < profile.pageCount; ++page) {
        const auto first = expected.cbegin() + page * profile.pageSize;
        const auto count = std::count_if(first, first + profile.pageSize,
                                         [](std::uint8_t byte) { return byte != 0xFF; });
        QCOMPARE(outcome.pageMap[page], std::uint32_t(count));
    }
    QCOMPARE(outcome.usedPages, usedPages);
}

// The lines, each followed by the next of ends in turn.
QByteArray joined(const QVector<QByteArray> &lines, const QVector<QByteArray> &ends)
{
    QByteArray text;
    for (int i = 0; i < lines.size(); ++i) {
        text += lines[i] + ends[i % ends.size()];
    }
    return text;
}

const QByteArray kEnd = ":00000001FF\n";
const QByteArray kData34 = QByteArray(34, '\x5A');

} // namespace

Q_DECLARE_METATYPE(HexVariant)
Q_DECLARE_METATYPE(Spans)

class TestHexLoader : public QObject
{
    Q_OBJECT

private slots:
    void loads_data();
    void loads();
    void fails_data();
    void fails();
    void refusesLooseFields_data();
    void refusesLooseFields();
    void refusesMalformedRecords_data();
    void refusesMalformedRecords();
    void countsLineLengthWithoutLineEnd_data();
    void countsLineLengthWithoutLineEnd();
    void refusesReadErrors_data();
    void refusesReadErrors();
    void readsFromCurrentPositionToEndRecordOnly_data();
    void readsFromCurrentPositionToEndRecordOnly();
    void leavesPageMapEntriesBeyondPageCount();
    void startsEveryLoadAfresh();
};

void TestHexLoader::loads_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<HexVariant>("variant");
    QTest::addColumn<Spans>("spans");
    QTest::addColumn<std::uint32_t>("usedPages");

    const auto panel = HexVariant::ControlPanel;
    const auto board = HexVariant::ControlBoard;
    const QByteArray d0102 = rec(0, 0x0010, "0102");

    QTest::newRow("empty file") << QByteArray() << panel << Spans{} << 0u;
    QTest::newRow("end record only") << kEnd << board << Spans{} << 0u;
    QTest::newRow("text after end record")
        << kEnd + "garbage\n\n" + d0102 << panel << Spans{} << 0u;
    QTest::newRow("no end record") << d0102 + "\n" << board << Spans{{0x10, "\x01\x02"}} << 1u;
    QTest::newRow("no final line end") << d0102 << panel << Spans{{0x10, "\x01\x02"}} << 1u;
    QTest::newRow("lower case") << QByteArray(":03abcd00abcdef1e\n") << panel
                                << Spans{{0xABCD, "\xAB\xCD\xEF"}} << 1u;
    // Two address records and three data records: a reader that misses a line end drops some.
    const QVector<QByteArray> records{rec(4, 0, "0001"),        d0102,
                                      rec(0, 0x1000, "A1A2A3"), rec(4, 0, "0000"),
                                      rec(0, 0x40, "55"),       ":00000001FF"};
    const Spans recordSpans{{0x10010, "\x01\x02"}, {0x11000, "\xA1\xA2\xA3"}, {0x40, "\x55"}};
    QTest::newRow("LF line ends") << joined(records, {"\n"}) << panel << recordSpans << 3u;
    QTest::newRow("CR LF line ends") << joined(records, {"\r\n"}) << panel << recordSpans << 3u;
    QTest::newRow("lone CR line ends") << joined(records, {"\r"}) << panel << recordSpans << 3u;
    QTest::newRow("mixed line ends")
        << joined(records, {"\r", "\n", "\r\n", "\r", "\r\n"}) << panel << recordSpans << 3u;
    QTest::newRow("lone CR, nothing after end record")
        << d0102 + "\r:00000001FF\r" + rec(0, 0x30, "99") + "\r" << board
        << Spans{{0x10, "\x01\x02"}} << 1u;
    QTest::newRow("CR LF and trailing text")
        << d0102 + "\r\n" + rec(0, 0x20, "03") + "   \n" + rec(0, 0x21, "04") + "xyz\n" + kEnd
        << board << Spans{{0x10, "\x01\x02"}, {0x20, "\x03\x04"}} << 1u;
    QTest::newRow("end record without checksum") << d0102 + "\n:00000001\n"
                                                 << board << Spans{{0x10, "\x01\x02"}} << 1u;
    QTest::newRow("later record overwrites")
        << rec(0, 0x100, "010203") + "\n" + rec(0, 0x101, "AA") + "\n"
        << board << Spans{{0x100, "\x01\xAA\x03"}} << 1u;
    QTest::newRow("0xFF bytes leave page unused")
        << rec(0, 0x40, "FFFF") + "\n" + rec(0, 0x80, "FF01FF") + "\n"
        << panel << Spans{{0x81, "\x01"}} << 1u;
    QTest::newRow("record crosses page boundary")
        << rec(0, 0x3E, "01020304") + "\n"
        << panel << Spans{{0x3E, "\x01\x02\x03\x04"}} << 2u;
    QTest::newRow("data runs on past 64 KiB")
        << rec(0, 0xFFF8, "000102030405060708090A0B0C0D0E0F") + "\n"
        << panel << Spans{{0xFFF8, QByteArray::fromHex("000102030405060708090A0B0C0D0E0F")}} << 2u;
    QTest::newRow("linear address") << ":020000040001F9\n" + d0102 + "\n"
                                    << panel << Spans{{0x10010, "\x01\x02"}} << 1u;
    QTest::newRow("segment address") << ":020000021000EC\n" + d0102 + "\n"
                                     << panel << Spans{{0x10010, "\x01\x02"}} << 1u;
    QTest::newRow("segment replaces linear")
        << rec(4, 0, "0003") + "\n" + rec(2, 0, "0100") + "\n" + d0102 + "\n"
        << panel << Spans{{0x1010, "\x01\x02"}} << 1u;
    QTest::newRow("board skips linear address")
        << ":020000040001F9\n" + rec(0, 0x100, "07") << board << Spans{{0x100, "\x07"}} << 1u;
    QTest::newRow("board skips bad segment record")
        << ":02000002100000\n" + d0102 << board << Spans{{0x10, "\x01\x02"}} << 1u;
    QTest::newRow("board skips short linear record")
        << ":02000004001\n" + d0102 << board << Spans{{0x10, "\x01\x02"}} << 1u;
    QTest::newRow("types 03 and 05 skipped, bad checksums")
        << ":0400000300001234FF\n:04000005000012340\n:00000003\n" + d0102 << panel
        << Spans{{0x10, "\x01\x02"}} << 1u;
    QTest::newRow("panel record ends at limit")
        << QByteArray(":020000040003F7\n:08FC10000102030405060708C8\n") << panel
        << Spans{{0x3FC10, "\x01\x02\x03\x04\x05\x06\x07\x08"}} << 1u;
    QTest::newRow("board record ends at limit")
        << rec(0, 0x7DF0, "00000000000000000000000000000001") << board
        << Spans{{0x7DF0, QByteArray(15, '\0') + '\x01'}} << 1u;
}

void TestHexLoader::loads()
{
    QFETCH(QByteArray, text);
    QFETCH(HexVariant, variant);
    QFETCH(Spans, spans);
    QFETCH(std::uint32_t, usedPages);

    const auto outcome = loadText(text, variant);
    QVERIFY(outcome);
    QCOMPARE(QString(outcome->result.message), QString());
    verifyImage(*outcome, variant, spans, usedPages);
    verifySameInBlocks(text, variant, *outcome);
}

void TestHexLoader::fails_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<HexVariant>("variant");
    QTest::addColumn<QString>("message");

    const auto panel = HexVariant::ControlPanel;
    const auto board = HexVariant::ControlBoard;
    const QByteArray good = rec(0, 0x10, "0102") + "\n";
    const QString colon = "Error line %1. Expected a leading ':'";
    const QString panelLimit = "Memory address limit of 261144 bytes exceeded";
    const QString boardLimit = "Memory address limit of 32256 bytes exceeded";

    QTest::newRow("blank line before end record") << good + "\n" + kEnd << board << colon.arg(2);
    QTest::newRow("blank line at end") << good + good + "\n" << board << colon.arg(3);
    QTest::newRow("leading blank") << " " + kEnd << panel << colon.arg(1);
    QTest::newRow("byte order mark") << "\xEF\xBB\xBF" + kEnd << panel << colon.arg(1);
    QTest::newRow("checksum FD for FE")
        << QByteArray(":0100000001FD") << panel << "Checksum Error line 1. Sum:FE Check:FD";
    QTest::newRow("checksum pads with blank")
        << QByteArray(":01000000F50B") << board << "Checksum Error line 1. Sum: A Check: B";
    QTest::newRow("checksum on line 3") << good + good + ":0100100001FF\n"
                                        << board << "Checksum Error line 3. Sum:EE Check:FF";
    QTest::newRow("checksum on line 3 after lone CRs")
        << joined({rec(0, 0x10, "0102"), rec(0, 0x10, "0102"), ":0100100001FF"}, {"\r"}) << board
        << "Checksum Error line 3. Sum:EE Check:FF";
    QTest::newRow("checksum on line 5, mixed line ends")
        << joined({rec(0, 0x10, "0102"), rec(0, 0x12, "03"), rec(0, 0x13, "04"), rec(0, 0x14, "05"),
                   ":0100100001FF"},
                  {"\r", "\r\n", "\n", "\r"})
        << board << "Checksum Error line 5. Sum:EE Check:FF";
    QTest::newRow("blank line between lone CRs")
        << rec(0, 0x10, "0102") + "\r\r" + kEnd << board << colon.arg(2);
    QTest::newRow("linear record checksum")
        << QByteArray(":020000040001F8\n") << panel << "Checksum Error line 1. Sum:F9 Check:F8";
    QTest::newRow("segment record checksum")
        << QByteArray(":02000002100000\n") << panel << "Checksum Error line 1. Sum:EC Check: 0";
    QTest::newRow("panel one byte past limit")
        << QByteArray(":020000040003F7\n:09FC1000010203040506070809BE\n") << panel << panelLimit;
    QTest::newRow("board one byte past limit")
        << rec(0, 0x7DF0, QByteArray(34, '0')) << board << boardLimit;
    QTest::newRow("base at limit, end record") << ":020000040004F6\n" + kEnd << panel << panelLimit;
    QTest::newRow("base at limit, type 03")
        << QByteArray(":020000040004F6\n:00000003\n") << panel << panelLimit;
    QTest::newRow("limit before type, board") << QByteArray(":107DF80300") << board << boardLimit;
    QTest::newRow("limit before data digits") << QByteArray(":107DF800zz") << board << boardLimit;
    QTest::newRow("base and address do not wrap")
        << QByteArray(":02000004FFFFFC\n:01FFFF000100\n") << panel << panelLimit;
    QTest::newRow("top segment") << QByteArray(":02000002FFFFFE\n:00000001FF\n") << panel
                                 << panelLimit;
}

void TestHexLoader::fails()
{
    QFETCH(QByteArray, text);
    QFETCH(HexVariant, variant);
    QFETCH(QString, message);

    const auto outcome = loadText(text, variant);
    QVERIFY(outcome);
    QCOMPARE(QString(outcome->result.message), message);
    QVERIFY(!outcome->result.ok());
    verifySameInBlocks(text, variant, *outcome);
}

void TestHexLoader::refusesLooseFields_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<HexVariant>("variant");

    // Each would pass a loader that reads fields with sscanf("%2x") and friends.
    const auto panel = HexVariant::ControlPanel;
    QTest::newRow("blank in count") << QByteArray(": 10000000AF5") << panel;
    QTest::newRow("blank in address") << QByteArray(":01 000000AF5") << panel;
    QTest::newRow("sign in address") << QByteArray(":01+000000AF5") << panel;
    QTest::newRow("0x in address") << QByteArray(":010x10000AE5") << panel;
    QTest::newRow("blank in type") << QByteArray(":010000 00AF5") << panel;
    QTest::newRow("blank in data") << QByteArray(":01000000 AF5") << HexVariant::ControlBoard;
    QTest::newRow("sign in data") << QByteArray(":01000000+AF5") << panel;
    QTest::newRow("blank in checksum") << QByteArray(":01000000F5 A") << panel;
    QTest::newRow("blank in value") << QByteArray(":02000004 001F9") << panel;
    QTest::newRow("0x in value") << QByteArray(":020000040x01F9") << panel;
}

void TestHexLoader::refusesLooseFields()
{
    QFETCH(QByteArray, text);
    QFETCH(HexVariant, variant);

    const auto outcome = loadText(rec(0, 0, "01") + "\n" + text, variant);
    QVERIFY(outcome);
    QCOMPARE(QString(outcome->result.message), "Error line 2. Malformed record");
}

void TestHexLoader::refusesMalformedRecords_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<HexVariant>("variant");

    const auto panel = HexVariant::ControlPanel;
    const auto board = HexVariant::ControlBoard;
    QTest::newRow("colon only") << QByteArray(":") << board;
    QTest::newRow("short header") << QByteArray(":0100000") << board;
    QTest::newRow("data missing") << QByteArray(":02000000AA") << board;
    QTest::newRow("checksum missing, sum 0") << QByteArray(":01000000FF") << board;
    QTest::newRow("half checksum") << QByteArray(":01000000F4B") << panel;
    QTest::newRow("letter G in data") << QByteArray(":01000000G0F5") << panel;
    QTest::newRow("letter G in address") << QByteArray(":0100G0000AF5") << board;
    QTest::newRow("NUL in data") << QByteArray(":01000000\0AF5", 13) << board;
    QTest::newRow("count beyond line") << rec(0, 0, kData34.toHex()).replace(1, 2, "23") << panel;
    QTest::newRow("linear value short") << QByteArray(":02000004001") << panel;
    QTest::newRow("segment checksum missing") << QByteArray(":020000021000\r\n") << panel;
}

void TestHexLoader::refusesMalformedRecords()
{
    QFETCH(QByteArray, text);
    QFETCH(HexVariant, variant);

    const auto outcome = loadText(text + "\n" + kEnd, variant);
    QVERIFY(outcome);
    QCOMPARE(QString(outcome->result.message), "Error line 1. Malformed record");
}

void TestHexLoader::countsLineLengthWithoutLineEnd_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("message");

    // rec34 holds 79 characters, rec34 + "." 80.
    const QByteArray rec34 = rec(0, 0x200, kData34.toHex());
    const QByteArray next = rec(0, 0x300, "77") + "\n";
    const QString tooLong = "Error line 2. Line too long";
    const QString colon = "Error line %1. Expected a leading ':'";
    QTest::newRow("79 LF") << rec34 + "\n" + next << QString();
    QTest::newRow("79 CR LF") << rec34 + "\r\n" + next << QString();
    QTest::newRow("80 LF") << rec34 + ".\n" + next << QString();
    QTest::newRow("80 CR LF") << rec34 + ".\r\n" + next << QString();
    QTest::newRow("79 CR") << rec34 + "\r" + next << QString();
    QTest::newRow("80 CR") << rec34 + ".\r" + next << QString();
    QTest::newRow("80, CR, 80, CR")
        << rec34 + ".\r" + rec(0, 0x300, "77") + QByteArray(67, '.') + "\r" << QString();
    QTest::newRow("CR, 80, CR, end of file") << next.chopped(1) + "\r" + rec34 + ".\r" << QString();
    // The CR ends the 79 characters; the CR LF after it ends an empty line.
    QTest::newRow("79, CR, CR LF") << rec34 + "\r\r\n" + next << colon.arg(2);
    QTest::newRow("80 at end of file") << next + rec34 + "." << QString();
    QTest::newRow("80 and CR at end of file") << next + rec34 + ".\r" << QString();
    QTest::newRow("81 LF") << next + rec34 + "..\n" + next << tooLong;
    QTest::newRow("81 CR LF") << next + rec34 + "..\r\n" + next << tooLong;
    QTest::newRow("81 at end of file") << next + rec34 + ".." << tooLong;
    QTest::newRow("81 CR") << next + rec34 + "..\r" + next << tooLong;
    QTest::newRow("81 at end of file, CR before")
        << next.chopped(1) + "\r" + rec34 + ".." << tooLong;
    QTest::newRow("80 then CR and text") << next + rec34 + ".\rx\n" << colon.arg(3);
    QTest::newRow("end record padded to 81")
        << next + ":00000001FF" + QByteArray(70, ' ') << tooLong;
    QTest::newRow("long line is not two records")
        << next + ":00000003" + QByteArray(71, 'x') + kEnd << tooLong;
}

void TestHexLoader::countsLineLengthWithoutLineEnd()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, message);

    const auto outcome = loadText(text, HexVariant::ControlPanel);
    QVERIFY(outcome);
    QCOMPARE(QString(outcome->result.message), message);
    if (message.isEmpty()) {
        verifyImage(*outcome, HexVariant::ControlPanel, Spans{{0x200, kData34}, {0x300, "\x77"}},
                    2u);
    }
    verifySameInBlocks(text, HexVariant::ControlPanel, *outcome);
}

void TestHexLoader::refusesReadErrors_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("resume");
    QTest::addColumn<QString>("message");

    const QByteArray good = rec(0, 0x10, "0102") + "\n";
    const QByteArray none;
    QTest::newRow("at once") << QByteArray() << none << "Error reading hex file after line 0";
    QTest::newRow("after two lines")
        << good + good << none << "Error reading hex file after line 2";
    QTest::newRow("inside a line")
        << good + ":0100" << none << "Error reading hex file after line 1";
    QTest::newRow("after 80 characters")
        << good + rec(0, 0, kData34.toHex()) + "." << none << "Error reading hex file after line 1";
    // The CR ends the line as an LF would: the line is read, the failure comes after it.
    QTest::newRow("after 80 characters and CR") << good + rec(0, 0, kData34.toHex()) + ".\r" << none
                                                << "Error reading hex file after line 2";
    QTest::newRow("after 80 characters and LF") << good + rec(0, 0, kData34.toHex()) + ".\n"
                                                << none << "Error reading hex file after line 2";
    QTest::newRow("after lone CRs") << joined({good.chopped(1), good.chopped(1)}, {"\r"}) << none
                                    << "Error reading hex file after line 2";
    // The failure hit the look for an LF after the CR; the lines after it must not load.
    QTest::newRow("once, after a lone CR")
        << good.chopped(1) + "\r" << good + kEnd << "Error reading hex file after line 1";
    QTest::newRow("once, after LF") << good << good + kEnd << "Error reading hex file after line 1";
    QTest::newRow("after end record") << good + kEnd << none << QString();
}

void TestHexLoader::refusesReadErrors()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, resume);
    QFETCH(QString, message);

    for (int blockSize = 1; blockSize <= kLargestBlock + 1; ++blockSize) {
        // The last size stands for a stream that reads all the text at once.
        StreamSource source{text, resume};
        if (blockSize <= kLargestBlock) {
            source.blockSize = blockSize;
        }
        std::FILE *file = openSource(source);
        QVERIFY(file);
        const auto outcome = loadFile(file, HexVariant::ControlBoard);
        std::fclose(file);
        QVERIFY2(
            outcome->result.message == message,
            qPrintable(
                QString("in blocks of %1: \"%2\"").arg(blockSize).arg(outcome->result.message)));
    }
}

void TestHexLoader::readsFromCurrentPositionToEndRecordOnly_data()
{
    QTest::addColumn<QByteArray>("endLine");

    QTest::newRow("LF") << QByteArray("\n");
    QTest::newRow("CR LF") << QByteArray("\r\n");
    // The character read to tell a lone CR from CR LF goes back into the stream.
    QTest::newRow("lone CR") << QByteArray("\r");
}

void TestHexLoader::readsFromCurrentPositionToEndRecordOnly()
{
    QFETCH(QByteArray, endLine);

    const QByteArray prefix = "not a record\n";
    const QByteArray after = "after the end record\n";
    std::FILE *file = std::tmpfile();
    QVERIFY(file);
    const QByteArray text = prefix + rec(0, 0x20, "55") + "\r\n" + ":00000001FF" + endLine + after;
    std::fwrite(text.constData(), 1, size_t(text.size()), file);
    std::fseek(file, prefix.size(), SEEK_SET);

    const auto outcome = loadFile(file, HexVariant::ControlBoard);
    QVERIFY(outcome->result.ok());
    verifyImage(*outcome, HexVariant::ControlBoard, Spans{{0x20, "\x55"}}, 1u);
    // The stream is still open and stands at the line after the end record.
    char rest[64] = {};
    QVERIFY(std::fgets(rest, sizeof rest, file));
    QCOMPARE(QByteArray(rest), after);
    std::fclose(file);

    // So it does when the line after the end record begins a new block.
    for (int blockSize = 1; blockSize <= kLargestBlock; ++blockSize) {
        StreamSource source{text, {}, blockSize, false};
        file = openSource(source);
        QVERIFY(file);
        QVERIFY(std::fgets(rest, sizeof rest, file));
        QCOMPARE(QByteArray(rest), prefix);
        const auto inBlocks = loadFile(file, HexVariant::ControlBoard);
        QVERIFY(sameOutcome(*inBlocks, *outcome));
        const bool restRead = std::fgets(rest, sizeof rest, file) != nullptr;
        std::fclose(file);
        QVERIFY2(restRead && QByteArray(rest) == after,
                 qPrintable(
                     QString("in blocks of %1: %2").arg(blockSize).arg(QString::fromLatin1(rest))));
    }
}

void TestHexLoader::leavesPageMapEntriesBeyondPageCount()
{
    const auto outcome = loadText(rec(0, 0x7DFF, "00"), HexVariant::ControlBoard);
    QVERIFY(outcome->result.ok());
    QCOMPARE(outcome->pageMap[251], 1u);
    for (std::uint32_t page = kControlBoardProfile.pageCount; page < kPageMapEntries; ++page) {
        QCOMPARE(outcome->pageMap[page], kUntouched);
    }
}

void TestHexLoader::startsEveryLoadAfresh()
{
    // The first file leaves a linear base and data behind; neither may reach the second load.
    const QByteArray first = ":020000040001F9\n" + rec(0, 0, "1122") + "\n:020000040002F8\n";
    const QByteArray second = rec(0, 0x30, "33");
    std::FILE *file = std::tmpfile();
    QVERIFY(file);
    std::fwrite(first.constData(), 1, size_t(first.size()), file);
    std::rewind(file);
    auto outcome = loadFile(file, HexVariant::ControlPanel);
    QVERIFY(outcome->result.ok());
    std::fclose(file);

    file = std::tmpfile();
    QVERIFY(file);
    std::fwrite(second.constData(), 1, size_t(second.size()), file);
    std::rewind(file);
    outcome->result = loadHexImage(file, kControlPanelProfile, HexVariant::ControlPanel,
                                   outcome->image, outcome->pageMap, outcome->usedPages);
    std::fclose(file);
    QVERIFY(outcome->result.ok());
    verifyImage(*outcome, HexVariant::ControlPanel, Spans{{0x30, "\x33"}}, 1u);
}

QTEST_GUILESS_MAIN(TestHexLoader)
#include "tst_hexloader.moc"
