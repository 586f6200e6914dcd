// The simulated devices replaying recordings (ZELUPDATE_SIM_REPLAY) under zelupdate-cli-sim: every
// recording in tests/recordings/ is replayed with its own command line, and the program must send
// exactly the recorded reports and end as recorded; recordings edited by hand replay into the
// failure such a unit would bring.

#include "RecordingFile.h"
#include "RecordingLines.h"

#include <QCryptographicHash>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>

namespace {

// Fast enough that a restart of seconds passes in microseconds.
const QString kSpeed = QStringLiteral("100000");
constexpr int kProcessLimitMs = 120000;

struct Replay
{
    int code = -1;
    QString err;
    std::vector<QJsonObject> lines; // what the program recorded while it was replayed to
};

QString fileSha256(const QString &path)
{
    QFile file(path);
    QCryptographicHash sum(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !sum.addData(&file))
        return QString();
    return QString::fromLatin1(sum.result().toHex());
}

// The HEX file a recording names: beside it, else among the examples.
QString hexFileOf(const QJsonObject &header)
{
    const QString name = header.value(QStringLiteral("file")).toObject().value("name").toString();
    for (const QString &folder :
         {QStringLiteral(ZELUPDATE_RECORDINGS_DIR), QStringLiteral(ZELUPDATE_EXAMPLES_DIR)}) {
        const QString path = QDir(folder).filePath(name);
        if (QFileInfo::exists(path))
            return path;
    }
    return QString();
}

// The recorded command line, its HEX file found again, and `extra` before the file.
QStringList argumentsOf(const QJsonObject &header, const QString &hexFile,
                        const QStringList &extra = QStringList())
{
    const QString name = header.value(QStringLiteral("file")).toObject().value("name").toString();
    QStringList arguments;
    for (const QJsonValue &argument : header.value(QStringLiteral("arguments")).toArray())
        arguments << argument.toString();
    if (!name.isEmpty() && arguments.constLast() == name)
        arguments.removeLast();
    arguments << extra;
    if (!name.isEmpty())
        arguments << hexFile;
    return arguments;
}

Replay replay(const QString &recording, const QStringList &arguments, const QTemporaryDir &work)
{
    Replay run;
    const QString recorded = work.filePath(QStringLiteral("replayed.jsonl"));
    QFile::remove(recorded);
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZELUPDATE_SIM_REPLAY"), recording);
    environment.insert(QStringLiteral("ZELUPDATE_SIM_REPLAY_SPEED"), kSpeed);
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), work.filePath(QStringLiteral("sim")));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), work.filePath(QStringLiteral("state")));
    environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), work.path());
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(ZELUPDATE_CLI_SIM), QStringList(arguments)
                                                         << QStringLiteral("--record") << recorded);
    if (!process.waitForFinished(kProcessLimitMs))
        return run;
    run.code = process.exitCode();
    run.err = QString::fromUtf8(process.readAllStandardError());
    const RecordingContents contents = readRecording(recorded);
    run.lines = contents.lines;
    return run;
}

std::vector<QJsonObject> linesOf(const QString &path)
{
    return readRecording(path).lines;
}

bool writeLines(const QString &path, const std::vector<QJsonObject> &lines)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    for (const QJsonObject &line : lines)
        file.write(QJsonDocument(line).toJson(QJsonDocument::Compact) + '\n');
    return file.flush();
}

bool isCall(const QJsonObject &line, const char *call)
{
    return line.value(QStringLiteral("call")).toString() == QLatin1String(call);
}

// The line of the n-th report (from 0) that begins with these payload letters.
int reportLine(const std::vector<QJsonObject> &lines, const char *letters, int occurrence = 0)
{
    const QString start = QStringLiteral("00") + QString::fromLatin1(QByteArray(letters).toHex());
    for (int at = 0; at < int(lines.size()); ++at)
        if (isCall(lines[at], "write") &&
            lines[at].value(QStringLiteral("bytes")).toString().startsWith(start) &&
            occurrence-- == 0)
            return at;
    return -1;
}

int readAfter(const std::vector<QJsonObject> &lines, int at)
{
    while (++at < int(lines.size()))
        if (isCall(lines[at], "read"))
            return at;
    return -1;
}

enum class Edit
{
    ReadBackByteChanged,
    ReplyRemoved,
    DepartureDelayed,
    ReportChanged,
    CutShort, // as a program killed while it wrote leaves it
};

// The edit made to a recording of a whole ControlPanel update; false when the recording lacks
// what the edit changes.
bool edit(std::vector<QJsonObject> &lines, Edit what)
{
    switch (what) {
    case Edit::ReadBackByteChanged: {
        // The fifth page read back: byte 9 of its data comes back altered.
        const int reply = readAfter(lines, reportLine(lines, "Rr", 4));
        if (reply < 0)
            return false;
        QString bytes = lines[reply].value(QStringLiteral("bytes")).toString();
        bytes.replace(18, 2, bytes.mid(18, 2) == QLatin1String("00") ? "01" : "00");
        lines[reply].insert(QStringLiteral("bytes"), bytes);
        return true;
    }
    case Edit::ReplyRemoved: {
        // The echo of the third page command never comes.
        const int reply = readAfter(lines, reportLine(lines, "Yy", 2));
        if (reply < 0)
            return false;
        lines.erase(lines.begin() + reply);
        return true;
    }
    case Edit::DepartureDelayed: {
        // After its bootloader entry the unit stays on the bus for a million seconds.
        const int entry = readAfter(lines, reportLine(lines, "Bb"));
        if (entry < 0)
            return false;
        for (std::size_t at = std::size_t(entry) + 1; at < lines.size(); ++at)
            lines[at].insert(QStringLiteral("t"),
                             lines[at].value(QStringLiteral("t")).toDouble() + 1e12);
        return true;
    }
    case Edit::CutShort: {
        // Nothing after the 300th report's reply but half a line.
        const int reply = readAfter(lines, reportLine(lines, "", 300));
        if (reply < 0)
            return false;
        lines.erase(lines.begin() + reply + 1, lines.end());
        return true;
    }
    case Edit::ReportChanged: {
        // The recorded start command carries a letter the program never sends there.
        const int start = reportLine(lines, "Cc");
        if (start < 0)
            return false;
        QString bytes = lines[start].value(QStringLiteral("bytes")).toString();
        lines[start].insert(QStringLiteral("bytes"), bytes.replace(2, 4, QStringLiteral("4344")));
        return true;
    }
    }
    return false;
}

} // namespace

Q_DECLARE_METATYPE(Edit)

class RecordedUnitTest : public QObject
{
    Q_OBJECT

private slots:
    void replaysEveryRecording_data();
    void replaysEveryRecording();
    void editedRecording_data();
    void editedRecording();
};

void RecordedUnitTest::replaysEveryRecording_data()
{
    QTest::addColumn<QString>("recording");
    const QDir folder(QStringLiteral(ZELUPDATE_RECORDINGS_DIR));
    const QStringList names =
        folder.entryList({QStringLiteral("*.jsonl"), QStringLiteral("*.jsonl.gz")}, QDir::Files);
    QVERIFY2(!names.isEmpty(), "tests/recordings holds no recording");
    for (const QString &name : names)
        QTest::newRow(qPrintable(name)) << folder.filePath(name);
}

void RecordedUnitTest::replaysEveryRecording()
{
    QFETCH(QString, recording);
    const RecordingContents recorded = readRecording(recording);
    QVERIFY2(recorded.end == RecordingContents::End::Read, qPrintable(recorded.why));
    const QJsonObject &header = recorded.lines.front();
    QString hexFile;
    if (header.contains(QStringLiteral("file"))) {
        hexFile = hexFileOf(header);
        QVERIFY2(!hexFile.isEmpty(), "put the HEX file the recording names beside it");
        QCOMPARE(fileSha256(hexFile),
                 header.value("file").toObject().value(QStringLiteral("sha256")).toString());
    }
    QTemporaryDir work;
    const Replay run = replay(recording, argumentsOf(header, hexFile), work);

    QVERIFY2(!run.err.contains(QLatin1String("from here on the unit answers nothing")),
             qPrintable(run.err));
    QCOMPARE(run.code, exitStatus(recorded.lines));
    QCOMPARE(writtenReports(run.lines), writtenReports(recorded.lines));
    // A recording made by an earlier release holds the fields of its day: those must agree.
    const QJsonObject recordedResult = comparableResult(recorded.lines);
    QJsonObject replayedResult = comparableResult(run.lines);
    for (const QString &field : replayedResult.keys())
        if (!recordedResult.contains(field))
            replayedResult.remove(field);
    QVERIFY2(replayedResult == recordedResult,
             QJsonDocument(replayedResult).toJson() + QJsonDocument(recordedResult).toJson());
    const QJsonObject probed = lastEvent(recorded.lines, QStringLiteral("probe"));
    QCOMPARE(
        lastEvent(run.lines, QStringLiteral("probe")).value("report").toObject().value("result"),
        probed.value(QStringLiteral("report")).toObject().value("result"));
}

void RecordedUnitTest::editedRecording_data()
{
    QTest::addColumn<Edit>("what");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("said"); // on standard error, a regular expression

    QTest::newRow("a read-back byte changed")
        << Edit::ReadBackByteChanged << QStringList() << 1
        << QStringLiteral("Error: Address 0x00109  Actual 0x0[01]  Expected ");
    QTest::newRow("a reply removed")
        << Edit::ReplyRemoved << QStringList() << 1
        << QStringLiteral("USB communication error during programming");
    QTest::newRow("the departure delayed past the time-out")
        << Edit::DepartureDelayed << QStringList{QStringLiteral("--leave-timeout"), "1"} << 5
        << QStringLiteral("did not restart within 1 s of its bootloader entry command");
    QTest::newRow("a report the program does not send")
        << Edit::ReportChanged << QStringList() << 5
        << QStringLiteral("replay of .*edited.jsonl: report 2 differs from the recording\n"
                          "  expected: 0043440000.*\n  written:  0043630000");
    QTest::newRow("cut short while writing")
        << Edit::CutShort << QStringList() << 1
        << QStringLiteral("report 301 is one more than the recording holds");
}

void RecordedUnitTest::editedRecording()
{
    QFETCH(Edit, what);
    QFETCH(QStringList, options);
    QFETCH(int, code);
    QFETCH(QString, said);

    const QString original = QStringLiteral(ZELUPDATE_RECORDINGS_DIR "/panel-update.jsonl.gz");
    std::vector<QJsonObject> lines = linesOf(original);
    QVERIFY(!lines.empty());
    QVERIFY(edit(lines, what));
    QTemporaryDir work;
    const QString edited = work.filePath(QStringLiteral("edited.jsonl"));
    QVERIFY(writeLines(edited, lines));
    if (what == Edit::CutShort) {
        QFile cut(edited);
        QVERIFY(cut.open(QIODevice::Append));
        QVERIFY(cut.write("{\"bytes\":\"0059") > 0);
    }

    const QJsonObject &header = lines.front();
    const Replay run = replay(edited, argumentsOf(header, hexFileOf(header), options), work);
    QVERIFY2(run.err.contains(QRegularExpression(said)), qPrintable(run.err));
    QCOMPARE(run.code, code);
    QCOMPARE(exitStatus(run.lines), code);
}

QTEST_GUILESS_MAIN(RecordedUnitTest)
#include "tst_recordedunit.moc"
