// zelupdate-cli --record, in this process on the simulated devices: the recording changes nothing
// on the wire and holds exactly what went over it, a recording replays into the same
// conversation and outcome, its lines hold the fields docs/recording.md writes down and no
// others, and a recording that cannot be made is refused before anything is sent.

#include "CliRun.h"
#include "RecordedUnit.h"
#include "RecordingFile.h"
#include "RecordingLines.h"
#include "SimulatedDevices.h"

#include <QJsonArray>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <set>

namespace {

sim::SimulatedDevices &devices()
{
    return sim::SimulatedDevices::instance();
}

QString hex(const std::vector<std::uint8_t> &bytes)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(bytes.data()), int(bytes.size())).toHex());
}

// The traffic as the recording words it: reports written, then what each read delivered.
QStringList trafficText(const std::vector<sim::TrafficRecord> &traffic)
{
    QStringList text;
    for (const sim::TrafficRecord &record : traffic)
        text << (record.direction == sim::TrafficRecord::Direction::Out ? QStringLiteral("> ")
                                                                        : QStringLiteral("< ")) +
                    (record.bytes.empty() ? QStringLiteral("timeout") : hex(record.bytes));
    return text;
}

QStringList recordedTraffic(const std::vector<QJsonObject> &lines)
{
    QStringList text;
    for (const QJsonObject &line : lines) {
        const QString call = line.value(QStringLiteral("call")).toString();
        if (call == QLatin1String("write"))
            text << QStringLiteral("> ") + line.value(QStringLiteral("bytes")).toString();
        else if (call == QLatin1String("read"))
            text << QStringLiteral("< ") + (line.value(QStringLiteral("result")).toInt() > 0
                                                ? line.value(QStringLiteral("bytes")).toString()
                                                : QStringLiteral("timeout"));
    }
    return text;
}

// How the units are arranged before a run.
enum class Units
{
    One,
    OneNotPermitted, // attached, but this user may not open it
};

void arrange(Units units)
{
    devices().reset();
    if (units == Units::OneNotPermitted)
        devices().setPanelAccess(sim::PanelAccess::NoPermission);
}

// The documented fields: the first column of every table in docs/recording.md.
std::set<QString> documentedFields()
{
    QFile file(QStringLiteral(ZELUPDATE_SOURCE_DIR "/docs/recording.md"));
    std::set<QString> fields;
    if (!file.open(QIODevice::ReadOnly))
        return fields;
    const QRegularExpression row(QStringLiteral("^\\| `([A-Za-z0-9]+)` \\|"));
    for (const QByteArray &line : file.readAll().split('\n')) {
        const QRegularExpressionMatch match = row.match(QString::fromUtf8(line));
        if (match.hasMatch())
            fields.insert(match.captured(1));
    }
    return fields;
}

// The keys a recording's lines use, nested devices and the probe's event included; the update's
// events are JSON Lines' own, written down with them, and only their time is the recording's.
void collectKeys(const std::vector<QJsonObject> &lines, std::set<QString> &keys)
{
    for (const QJsonObject &line : lines) {
        const QString event = line.value(QStringLiteral("event")).toString();
        if (!event.isEmpty() && event != QLatin1String("probe")) {
            keys.insert(QStringLiteral("t"));
            continue;
        }
        for (const QString &key : line.keys())
            keys.insert(key);
        for (const QJsonValue &device : line.value(QStringLiteral("devices")).toArray())
            for (const QString &key : device.toObject().keys())
                keys.insert(key);
        for (const QString &key : line.value(QStringLiteral("file")).toObject().keys())
            keys.insert(key);
    }
}

// What a run printed of its outcome, without its figures and times.
QStringList outcomeLines(const QString &out)
{
    return out.split(QLatin1Char('\n'))
        .filter(QRegularExpression(QStringLiteral("^(result|exit code|used pages|sha256):")));
}

QString joined(const std::set<QString> &set)
{
    QStringList list(set.begin(), set.end());
    return list.join(QLatin1Char(' '));
}

} // namespace

Q_DECLARE_METATYPE(Units)

class RecordedRunTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void recordedAndReplayed_data();
    void recordedAndReplayed();
    void formatAsDocumented();
    void refused_data();
    void refused();

private:
    QTemporaryDir work;
    QString recordingPath(const char *name) const { return work.filePath(QLatin1String(name)); }
};

void RecordedRunTest::initTestCase()
{
    QVERIFY(work.isValid());
    qputenv("XDG_STATE_HOME", work.filePath(QStringLiteral("state")).toUtf8());
}

void RecordedRunTest::recordedAndReplayed_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<Units>("units");
    const QString examples = QStringLiteral(ZELUPDATE_EXAMPLES_DIR);

    QTest::newRow("board update") << QStringList{"update", "--target", "board",
                                                 examples + "/controlboard-example.hex"}
                                  << Units::One;
    QTest::newRow("panel update, gzip")
        << QStringList{"update", "--target", "panel", examples + "/controlpanel-example.hex"}
        << Units::One;
    QTest::newRow("probe with restarts")
        << QStringList{"probe", "--restart", "--yes"} << Units::One;
    QTest::newRow("list of a unit not permitted") << QStringList{"list"} << Units::OneNotPermitted;
}

// The same command with and without --record: the same reports and replies, opens and closes,
// and the recording holds exactly them. Replayed, it has the program send the recorded reports
// and end as it did.
void RecordedRunTest::recordedAndReplayed()
{
    QFETCH(QStringList, arguments);
    QFETCH(Units, units);
    const QString file =
        recordingPath(QTest::currentDataTag()) +
        (arguments.constLast().endsWith("panel-example.hex") ? ".jsonl.gz" : ".jsonl");
    const QString again = recordingPath("again.jsonl");

    arrange(units);
    const CliRun plain = runCli(arguments);
    const QStringList plainTraffic = trafficText(devices().traffic());
    const int plainOpens = devices().openCount();
    const int plainCloses = devices().closeCount();

    arrange(units);
    const CliRun recorded = runCli(QStringList(arguments) << "--record" << file);
    QCOMPARE(recorded.code, plain.code);
    QCOMPARE(trafficText(devices().traffic()), plainTraffic);
    QCOMPARE(devices().openCount(), plainOpens);
    QCOMPARE(devices().closeCount(), plainCloses);

    const RecordingContents contents = readRecording(file);
    QVERIFY2(contents.end == RecordingContents::End::Read, qPrintable(contents.why));
    QCOMPARE(recordedTraffic(contents.lines), plainTraffic);
    QCOMPARE(exitStatus(contents.lines), plain.code);

    sim::ConversationLoad load = sim::loadConversation(file.toStdString());
    QVERIFY2(load.end == sim::ConversationLoad::End::Loaded, load.why.c_str());
    devices().reset();
    sim::RecordedUnit unit("tst_recordedrun", file.toStdString(), std::move(load.conversation),
                           1e6);
    devices().replaceUnits(&unit);
    const CliRun replayed = runCli(QStringList(arguments) << "--record" << again);
    devices().replaceUnits(nullptr);

    QVERIFY(unit.replayedWhole());
    QCOMPARE(replayed.code, recorded.code);
    QCOMPARE(outcomeLines(replayed.out), outcomeLines(recorded.out));
    const std::vector<QJsonObject> after = readRecording(again).lines;
    QCOMPARE(writtenReports(after), writtenReports(contents.lines));
    QCOMPARE(readReplies(after), readReplies(contents.lines));
    QCOMPARE(comparableResult(after), comparableResult(contents.lines));
}

// Every field a recording holds is written down, and every field written down is held by one of
// these recordings: a field renamed on either side fails here.
void RecordedRunTest::formatAsDocumented()
{
    const std::set<QString> documented = documentedFields();
    QVERIFY(!documented.empty());
    std::set<QString> used;
    const QString examples = QStringLiteral(ZELUPDATE_EXAMPLES_DIR);
    const QList<QPair<QStringList, Units>> runs{
        {{"update", "--target", "panel", examples + "/controlpanel-example.hex"}, Units::One},
        {{"probe", "--restart", "--yes"}, Units::One},
        {{"list"}, Units::OneNotPermitted},
    };
    for (const auto &run : runs) {
        arrange(run.second);
        // A restart that takes a while, so that the unit is looked for more than once.
        devices().setRestartTime(std::chrono::milliseconds(5));
        // A reply that never comes, so that a time-out is recorded too.
        devices().injectFault(sim::FaultTrigger::onCommand('E', 'e', 1), {sim::FaultKind::NoReply});
        const QString file = recordingPath("format.jsonl");
        runCli(QStringList(run.first) << "--record" << file);
        collectKeys(readRecording(file).lines, used);
    }
    std::set<QString> undocumented;
    for (const QString &key : used)
        if (!documented.count(key))
            undocumented.insert(key);
    std::set<QString> unused;
    for (const QString &field : documented)
        if (!used.count(field))
            unused.insert(field);
    QCOMPARE(joined(undocumented), QString());
    QCOMPARE(joined(unused), QString());
}

void RecordedRunTest::refused_data()
{
    // HEX stands for a copy of the example in this test's folder, REC for a recording there.
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("said");

    QTest::newRow("with --all") << QStringList{"update",   "--target", "board", "--all",
                                               "--record", "REC",      "HEX"}
                                << QStringLiteral(
                                       "--record records one unit: not with --all or --each");
    QTest::newRow("with --each") << QStringList{"update",   "--target", "board", "--each",
                                                "--record", "REC",      "HEX"}
                                 << QStringLiteral("--record records one unit");
    QTest::newRow("in a folder that is not there")
        << QStringList{"update", "--target", "board", "--record", "/nonexistent/x.jsonl", "HEX"}
        << QStringLiteral("the recording cannot be written: /nonexistent/x.jsonl: No such file or "
                          "directory. Nothing was sent");
    QTest::newRow("empty name") << QStringList{"probe", "--record", ""}
                                << QStringLiteral("--record needs the name of the file to write");
    // Opened without blocking: a FIFO nobody reads would hold the program before anything is sent.
    QTest::newRow("a FIFO") << QStringList{"list", "--record", "FIFO"}
                            << QStringLiteral("refused.fifo: not a regular file. Nothing was sent");
    QTest::newRow("over the HEX file")
        << QStringList{"update", "--target", "board", "--record", "HEX", "HEX"}
        << QStringLiteral("would overwrite the HEX file");
}

void RecordedRunTest::refused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, said);
    const QString hex = recordingPath("refused.hex");
    const QString recording = recordingPath("refused.jsonl");
    QFile::remove(hex);
    QFile::remove(recording);
    QVERIFY(QFile::copy(QStringLiteral(ZELUPDATE_EXAMPLES_DIR "/controlboard-example.hex"), hex));
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^HEX$")), hex);
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^REC$")), recording);
    const QString fifo = recordingPath("refused.fifo");
    QFile::remove(fifo);
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    arguments.replaceInStrings(QRegularExpression(QStringLiteral("^FIFO$")), fifo);
    QFile original(QStringLiteral(ZELUPDATE_EXAMPLES_DIR "/controlboard-example.hex"));
    QVERIFY(original.open(QIODevice::ReadOnly));

    devices().reset();
    const CliRun run = runCli(arguments);
    QVERIFY2(run.err.contains(said), qPrintable(run.err));
    QCOMPARE(run.code, 2);
    QCOMPARE(devices().openCount(), 0);
    QCOMPARE(devices().reportCount(), 0);
    QVERIFY(!QFileInfo::exists(recording));
    QFile copy(hex);
    QVERIFY(copy.open(QIODevice::ReadOnly));
    QCOMPARE(copy.readAll(), original.readAll());
}

QTEST_GUILESS_MAIN(RecordedRunTest)
#include "tst_recordedrun.moc"
