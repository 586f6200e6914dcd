// Turning the simulated devices' traffic into umockdev scripts and reading scripts back, as
// umockdev 0.17 reads them (the escapes and the skipped blanks were checked against umockdev-run).
#include "TrafficText.h"
#include "UmockdevScript.h"

#include <QtTest>

#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;
using Traffic = std::vector<sim::TrafficRecord>;
using umockdev::ScriptLine;

Q_DECLARE_METATYPE(Bytes)
Q_DECLARE_METATYPE(Traffic)

namespace {

Bytes bytesOf(const std::string &text)
{
    return Bytes(text.begin(), text.end());
}

sim::TrafficRecord out(const std::string &text, int device = 0)
{
    return {sim::TrafficRecord::Direction::Out, device, bytesOf(text)};
}

sim::TrafficRecord in(const std::string &text, int device = 0)
{
    return {sim::TrafficRecord::Direction::In, device, bytesOf(text)};
}

sim::TrafficRecord timeout()
{
    return in("");
}

// A 65-byte report with the report id 0 and the two letters, and the 64-byte echo.
std::string report(char first, char second)
{
    std::string bytes(kReportSize, '\0');
    bytes[1] = first;
    bytes[2] = second;
    return bytes;
}

std::string echo(char first, char second)
{
    std::string bytes(kReplySize, '\0');
    bytes[0] = second;
    bytes[1] = first;
    return bytes;
}

QByteArray scriptBody(const std::string &script)
{
    // The first line is the generator's comment.
    return QByteArray::fromStdString(script.substr(script.find('\n') + 1));
}

QByteArray line(char op, int delay, const std::string &data)
{
    return QByteArray(1, op) + ' ' + QByteArray::number(delay) + ' ' +
           QByteArray::fromStdString(umockdev::encodeBlock(bytesOf(data))) + '\n';
}

} // namespace

class UmockdevScriptTest : public QObject
{
    Q_OBJECT

private slots:
    void encodeBlock_data();
    void encodeBlock();
    void decodeBlockAsUmockdev_data();
    void decodeBlockAsUmockdev();
    void everyByteSurvivesEncoding();
    void scriptFromTraffic_data();
    void scriptFromTraffic();
    void scriptRefusesTraffic_data();
    void scriptRefusesTraffic();
    void scriptReadsBackAsTraffic();
    void parseScript_data();
    void parseScript();
    void parseScriptRefuses_data();
    void parseScriptRefuses();
    void trafficTextRoundTrip();
    void parseTrafficRefuses_data();
    void parseTrafficRefuses();
};

void UmockdevScriptTest::encodeBlock_data()
{
    QTest::addColumn<Bytes>("bytes");
    QTest::addColumn<QByteArray>("text");

    QTest::newRow("report id and letters") << Bytes{0, 'E', 'e'} << QByteArray("^@Ee");
    QTest::newRow("control bytes") << Bytes{1, 10, 13, 31} << QByteArray("^A^J^M^_");
    QTest::newRow("caret") << Bytes{'^', 'x'} << QByteArray("^`x");
    QTest::newRow("space and backquote inside") << Bytes{'a', ' ', '`'} << QByteArray("a `");
    QTest::newRow("high bytes") << Bytes{0x7F, 0x80, 0xFF} << QByteArray("\x7F\x80\xFF");
    QTest::newRow("nothing") << Bytes{} << QByteArray();
}

void UmockdevScriptTest::encodeBlock()
{
    QFETCH(Bytes, bytes);
    QFETCH(QByteArray, text);
    QCOMPARE(QByteArray::fromStdString(umockdev::encodeBlock(bytes)), text);
}

void UmockdevScriptTest::decodeBlockAsUmockdev_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<Bytes>("bytes");

    QTest::newRow("escaped zero") << QByteArray("^@") << Bytes{0};
    QTest::newRow("escaped caret") << QByteArray("^`") << Bytes{'^'};
    // umockdev subtracts 64 from whatever follows '^', wrapping below zero.
    QTest::newRow("caret before printable") << QByteArray("^a^~") << Bytes{'!', '>'};
    QTest::newRow("caret before space") << QByteArray("^ ") << Bytes{0xE0};
    QTest::newRow("caret before high byte") << QByteArray("^\xE0") << Bytes{0xA0};
    QTest::newRow("trailing space kept") << QByteArray("a ") << Bytes{'a', ' '};
}

void UmockdevScriptTest::decodeBlockAsUmockdev()
{
    QFETCH(QByteArray, text);
    QFETCH(Bytes, bytes);
    QCOMPARE(umockdev::decodeBlock(text.toStdString()), bytes);
}

void UmockdevScriptTest::everyByteSurvivesEncoding()
{
    Bytes all;
    for (int byte = 0; byte < 256; ++byte)
        all.push_back(static_cast<std::uint8_t>(255 - byte));
    const std::string text = umockdev::encodeBlock(all);
    QVERIFY(text.find('\n') == std::string::npos);
    QCOMPARE(umockdev::decodeBlock(text), all);
}

void UmockdevScriptTest::scriptFromTraffic_data()
{
    QTest::addColumn<Traffic>("traffic");
    QTest::addColumn<int>("readTimeoutMs");
    QTest::addColumn<QByteArray>("script");

    const std::string e = report('E', 'e');
    const std::string c = report('C', 'c');
    const std::string eEcho = echo('E', 'e');
    const std::string cEcho = echo('C', 'c');
    const std::string half = eEcho.substr(0, 32);

    QTest::newRow("report and reply")
        << Traffic{out(e), in(eEcho)} << 4000 << line('w', 0, e) + line('r', 0, eEcho);
    QTest::newRow("time-out, then the next report's reply")
        << Traffic{out(e), timeout(), out(c), in(cEcho)} << 4000
        << line('w', 0, e) + line('w', 0, c) + line('r', 0, cEcho);
    QTest::newRow("late reply after one time-out") << Traffic{out(e), timeout(), in(eEcho)} << 4000
                                                   << line('w', 0, e) + line('r', 6000, eEcho);
    QTest::newRow("late reply after two time-outs")
        << Traffic{out(e), timeout(), timeout(), in(eEcho)} << 4000
        << line('w', 0, e) + line('r', 10000, eEcho);
    QTest::newRow("late reply, other time-out") << Traffic{out(e), timeout(), in(eEcho)} << 1000
                                                << line('w', 0, e) + line('r', 1500, eEcho);
    QTest::newRow("two replies to one report")
        << Traffic{out(e), in(eEcho), in(cEcho)} << 4000
        << line('w', 0, e) + line('r', 0, eEcho) + line('r', 0, cEcho);
    QTest::newRow("time-out at the end") << Traffic{out(e), in(eEcho), out(c), timeout()} << 4000
                                         << line('w', 0, e) + line('r', 0, eEcho) + line('w', 0, c);
    QTest::newRow("short reply, then a report")
        << Traffic{out(e), in(half), out(c), in(cEcho)} << 4000
        << line('w', 0, e) + line('r', 0, half) + line('w', 0, c) + line('r', 0, cEcho);
    QTest::newRow("short reply, time-out, reply")
        << Traffic{out(e), in(half), timeout(), in(cEcho)} << 4000
        << line('w', 0, e) + line('r', 0, half) + line('r', 6000, cEcho);
    QTest::newRow("other device left out")
        << Traffic{out(e), out(c, 1), timeout(), in(cEcho, 1), in(eEcho)} << 4000
        << line('w', 0, e) + line('r', 6000, eEcho);
    QTest::newRow("nothing") << Traffic{} << 4000 << QByteArray();
}

void UmockdevScriptTest::scriptFromTraffic()
{
    QFETCH(Traffic, traffic);
    QFETCH(int, readTimeoutMs);
    QFETCH(QByteArray, script);

    std::string text;
    std::string error;
    QVERIFY2(!umockdev::scriptFromTraffic(traffic, text, error, 0, readTimeoutMs), error.c_str());
    QVERIFY(text.rfind("# ", 0) == 0);
    QCOMPARE(scriptBody(text), script);
}

void UmockdevScriptTest::scriptRefusesTraffic_data()
{
    QTest::addColumn<Traffic>("traffic");
    QTest::addColumn<QString>("reason");

    const std::string e = report('E', 'e');
    QTest::newRow("reply begins with a space")
        << Traffic{out(e), in(" E" + std::string(62, '\0'))} << "record 1: begins with a space";
    QTest::newRow("write begins with a space") << Traffic{out(" Ee")} << "record 0: begins with";
    QTest::newRow("empty write") << Traffic{out(e), out("")} << "record 1: writes nothing";
    QTest::newRow("short reply, then another")
        << Traffic{out(e), in("eE"), in(echo('E', 'e'))} << "record 2: follows a short reply";
}

void UmockdevScriptTest::scriptRefusesTraffic()
{
    QFETCH(Traffic, traffic);
    QFETCH(QString, reason);

    std::string text = "untouched";
    std::string error;
    QVERIFY(umockdev::scriptFromTraffic(traffic, text, error));
    QVERIFY2(QString::fromStdString(error).contains(reason), error.c_str());
    QCOMPARE(text, std::string("untouched"));
}

void UmockdevScriptTest::scriptReadsBackAsTraffic()
{
    // Every byte value in both directions, time-outs between.
    std::string written = report('Y', 'y');
    std::string read;
    for (int i = 0; i < kReplySize; ++i) {
        written[static_cast<std::size_t>(i) + 1] = static_cast<char>(i * 4 + 1);
        read += static_cast<char>(i * 4 + 2);
    }
    const Traffic traffic{out(written), in(read), out(report('R', 'r')), timeout(), in(read)};
    std::string script;
    std::string error;
    QVERIFY2(!umockdev::scriptFromTraffic(traffic, script, error), error.c_str());

    std::vector<ScriptLine> lines;
    QVERIFY2(!umockdev::parseScript(script, lines, error), error.c_str());
    QCOMPARE(lines.size(), std::size_t(4));
    const std::size_t recordOf[] = {0, 1, 2, 4};
    const int delays[] = {0, 0, 0, 6000};
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const sim::TrafficRecord &record = traffic[recordOf[i]];
        QCOMPARE(lines[i].op == ScriptLine::Op::Write,
                 record.direction == sim::TrafficRecord::Direction::Out);
        QCOMPARE(lines[i].delayMs, delays[i]);
        QCOMPARE(lines[i].data, record.bytes);
    }
}

void UmockdevScriptTest::parseScript_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("summary"); // op, delay, data of each line, ';' between

    QTest::newRow("write and read")
        << QByteArray("w 0 ^@Ee\nr 12 eE\n") << QByteArray("w0:^@Ee;r12:eE");
    QTest::newRow("comments skipped")
        << QByteArray("# one\nw 0 a\n#r 0 b\n\nr 0 c\n") << QByteArray("w0:a;r0:c");
    QTest::newRow("Q ends the script") << QByteArray("w 0 a\nQ\nr 0 b\n") << QByteArray("w0:a");
    // As umockdev: blanks before a block are skipped, blanks after it are data.
    QTest::newRow("blanks before the data skipped")
        << QByteArray("r 0 \t  ab \n") << QByteArray("r0:ab ");
    QTest::newRow("no data") << QByteArray("r 7\nw 0 x") << QByteArray("r7:;w0:x");
}

void UmockdevScriptTest::parseScript()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, summary);

    std::vector<ScriptLine> lines;
    std::string error;
    QVERIFY2(!umockdev::parseScript(text.toStdString(), lines, error), error.c_str());
    QByteArrayList summaries;
    for (const ScriptLine &l : lines)
        summaries << QByteArray(l.op == ScriptLine::Op::Write ? "w" : "r") +
                         QByteArray::number(l.delayMs) + ':' +
                         QByteArray::fromStdString(umockdev::encodeBlock(l.data));
    QCOMPARE(summaries.join(';'), summary);
}

void UmockdevScriptTest::parseScriptRefuses_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("reason");

    QTest::newRow("fuzz") << QByteArray("w 0 a\nf 5 -\n") << "line 2: operation 'f'";
    QTest::newRow("unknown operation") << QByteArray("x 0 a\n") << "line 1: operation 'x'";
    QTest::newRow("no delay") << QByteArray("w 0 a\nr eE\n") << "line 2: no delay";
}

void UmockdevScriptTest::parseScriptRefuses()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, reason);

    std::vector<ScriptLine> lines{{ScriptLine::Op::Read, 1, {}}};
    std::string error;
    QVERIFY(umockdev::parseScript(text.toStdString(), lines, error));
    QVERIFY2(QString::fromStdString(error).contains(reason), error.c_str());
    QCOMPARE(lines.size(), std::size_t(1));
}

void UmockdevScriptTest::trafficTextRoundTrip()
{
    const Traffic traffic{out(report('E', 'e')), timeout(), in(echo('E', 'e')), out("\xff\x80", 1),
                          in("\x01\xfe")};
    const std::string text = umockdev::formatTraffic(traffic);
    QCOMPARE(QByteArray::fromStdString(text).count('\n'), 4);
    QVERIFY(text.find("\n<\n") != std::string::npos);

    Traffic parsed;
    std::string error;
    QVERIFY2(!umockdev::parseTraffic(text, parsed, error), error.c_str());
    const Traffic device0{traffic[0], traffic[1], traffic[2], traffic[4]};
    QCOMPARE(parsed.size(), device0.size());
    for (std::size_t i = 0; i < parsed.size(); ++i) {
        QCOMPARE(parsed[i].direction, device0[i].direction);
        QCOMPARE(parsed[i].bytes, device0[i].bytes);
    }
    QCOMPARE(umockdev::formatRecord(traffic[4]), std::string("< 01fe"));
}

void UmockdevScriptTest::parseTrafficRefuses_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("reason");

    QTest::newRow("no direction") << QByteArray("> 00\n= 00\n") << "line 2: expected '>'";
    QTest::newRow("odd digits") << QByteArray("> 001\n") << "line 1: expected a space";
    QTest::newRow("no space") << QByteArray(">00\n") << "line 1: expected a space";
    QTest::newRow("not hex") << QByteArray("< 0g\n") << "line 1: not a hex digit";
    QTest::newRow("empty line") << QByteArray("<\n\n") << "line 2: expected '>'";
}

void UmockdevScriptTest::parseTrafficRefuses()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, reason);

    Traffic traffic{timeout()};
    std::string error;
    QVERIFY(umockdev::parseTraffic(text.toStdString(), traffic, error));
    QVERIFY2(QString::fromStdString(error).contains(reason), error.c_str());
    QCOMPARE(traffic.size(), std::size_t(1));
}

QTEST_GUILESS_MAIN(UmockdevScriptTest)
#include "tst_umockdev_script.moc"
