// zelupdate-cli-sim as real processes, met the way a shell, a script or a second technician meets
// it: two updates of one unit, signals before and after the bootloader entry, closed standard
// streams and readers that go away, and a unit left in its bootloader by a killed update. Every
// case has a folder of its own for the units' flash files, the locks and the history. The cases
// wait for the lines the program writes, never for a fixed time.

#include "CliRun.h"
#include "SimulatedDevices.h"
#include "TestFiles.h"
#include "UpdateTexts.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

#include <signal.h>
#include <sys/stat.h>

namespace {

const QString kCli = QStringLiteral(ZELUPDATE_CLI_SIM);
const QString kExamples = QStringLiteral(ZELUPDATE_EXAMPLES_DIR);
// Generous: a loaded machine may take long to start a process or to schedule it.
constexpr int kTimeoutMs = 60000;
// The lines of the ControlPanel's example kept in the short file: 400 pages, a walk of about half
// a second, so that a signal sent as the walk begins lands in it.
constexpr int kShortPanelLines = 1600;
constexpr const char *kRestartMs = "200";
constexpr int kPollMs = 5;

const QByteArray kWarning = "Stopping now leaves the firmware incomplete. Press Ctrl-C again to "
                            "stop after this page.\n";
const QString kInterrupted =
    QStringLiteral("Interrupted: the firmware is incomplete; run the update again");
const QString kPanelUpdated = QStringLiteral("The ControlPanel firmware has been updated");
const QString kBoardUpdated = QStringLiteral("The ZEL02 firmware has been updated");
const QString kUnfinishedInList =
    QStringLiteral("the last update of the ControlPanel here, started \\d{4}-\\d\\d-\\d\\d "
                   "\\d\\d:\\d\\d, did not finish");
const QByteArray kWritingPhase = "{\"event\":\"phase\",\"phase\":\"writing\"";
const QByteArray kWaiting = "Waiting up to 30 s for the ControlPanel at USB port 1-2\n";

// One zelupdate-cli-sim (or a shell around it), its standard output and error gathered as they
// come.
class CliProcess
{
public:
    explicit CliProcess(const QProcessEnvironment &environment)
    {
        process.setProcessEnvironment(environment);
        QObject::connect(&process, &QProcess::readyReadStandardOutput,
                         [this] { out += process.readAllStandardOutput(); });
        QObject::connect(&process, &QProcess::readyReadStandardError,
                         [this] { err += process.readAllStandardError(); });
    }

    void start(const QStringList &arguments) { startProgram(kCli, arguments); }
    // `script` runs in bash with the program as $0 and `arguments` as $@.
    void startInShell(const QString &script, const QStringList &arguments)
    {
        startProgram(QStringLiteral("bash"), QStringList{"-c", script, kCli} + arguments);
    }

    // Whether `text` came `times` times on the stream before the program ended or the time-out.
    bool waitFor(QByteArray CliProcess::*stream, const QByteArray &text, int times = 1)
    {
        const auto came = [&] { return (this->*stream).count(text) >= times; };
        static_cast<void>(QTest::qWaitFor(
            [&] { return came() || process.state() == QProcess::NotRunning; }, kTimeoutMs));
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        return came();
    }

    void send(int signal) { ::kill(pid_t(id()), signal); }
    // Kept once the process has ended, when QProcess forgets it.
    qint64 id() const { return startedId; }

    // Whether the program still runs, after waiting up to `milliseconds` for its end.
    bool runs(int milliseconds)
    {
        return !process.waitForFinished(milliseconds) && process.state() != QProcess::NotRunning;
    }

    // The exit status; -1 when a signal ended the program or it did not end in time.
    int finish()
    {
        const bool ended =
            process.state() == QProcess::NotRunning || process.waitForFinished(kTimeoutMs);
        out += process.readAllStandardOutput();
        err += process.readAllStandardError();
        if (!ended || process.exitStatus() != QProcess::NormalExit)
            return -1;
        return process.exitCode();
    }

    QByteArray out;
    QByteArray err;

private:
    void startProgram(const QString &program, const QStringList &arguments)
    {
        process.start(program, arguments);
        if (process.waitForStarted(kTimeoutMs))
            startedId = process.processId();
    }

    QProcess process;
    qint64 startedId = 0;
};

// The last JSON Lines object of the stream: the result.
QJsonObject lastJson(const QByteArray &stream)
{
    const QList<QByteArray> lines = stream.trimmed().split('\n');
    return QJsonDocument::fromJson(lines.last()).object();
}

} // namespace

class CliProcessesTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void oneProgramPerUnit_data();
    void oneProgramPerUnit();
    void signalsDuringUpdate_data();
    void signalsDuringUpdate();
    void streamsGone_data();
    void streamsGone();
    void killedThenRecovered_data();
    void killedThenRecovered();
    void unusableLockPath_data();
    void unusableLockPath();
    void eachRunsTogether_data();
    void eachRunsTogether();
    void probeSignalled_data();
    void probeSignalled();
    void eachSignalled_data();
    void eachSignalled();
    void settingsRefused_data();
    void settingsRefused();

private:
    QString file(const QString &key) const;
    // The flash file of the target's unit at port 1-1.
    QByteArray flash(const QString &target) const;
    QByteArray image(const QString &key) const;
    struct Ran
    {
        int code = -1;
        QByteArray out;
        QByteArray err;
    };
    // Runs the program to its end.
    Ran run(const QStringList &arguments);
    QStringList historyEntries();

    QTemporaryDir files;
    std::unique_ptr<QTemporaryDir> folder; // this case's units, locks and history
    QProcessEnvironment environment;
    QHash<QString, QByteArray> images;
};

void CliProcessesTest::initTestCase()
{
    QVERIFY(files.isValid());
    // Inherited by every program started here: an ignored SIGPIPE would hide one that ends them.
    std::signal(SIGPIPE, SIG_DFL);

    const QList<QByteArray> lines =
        readFile(file(QStringLiteral("panel"))).replace("\r\n", "\n").split('\n');
    QVERIFY(lines.size() > kShortPanelLines);
    QFile shortPanel(file(QStringLiteral("short panel")));
    QVERIFY(shortPanel.open(QIODevice::WriteOnly));
    shortPanel.write(lines.mid(0, kShortPanelLines).join('\n') + "\n:00000001FF\n");
    shortPanel.close();

    images[QStringLiteral("board")] =
        objcopyImage(file(QStringLiteral("board")), int(sim::kBoardFlashSize));
    for (const QString &key : {QStringLiteral("panel"), QStringLiteral("short panel")})
        images[key] = objcopyImage(file(key), int(sim::kPanelFlashSize));
    for (const QByteArray &made : qAsConst(images))
        QVERIFY2(!made.isEmpty(), "objcopy (binutils) makes the images the flash is compared with");
}

void CliProcessesTest::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("ZELUPDATE_SIM_UNITS"));
    environment.remove(QStringLiteral("ZELUPDATE_SIM_FAULTS"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QLatin1String(kRestartMs));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), folder->filePath("sim"));
    environment.insert(QStringLiteral("ZELUPDATE_LOCK_DIR"), folder->filePath("locks"));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), folder->filePath("state"));
}

QString CliProcessesTest::file(const QString &key) const
{
    if (key == QLatin1String("board"))
        return kExamples + QStringLiteral("/controlboard-example.hex");
    if (key == QLatin1String("panel"))
        return kExamples + QStringLiteral("/controlpanel-example.hex");
    return files.filePath(QStringLiteral("short-panel.hex"));
}

QByteArray CliProcessesTest::flash(const QString &target) const
{
    return readFile(folder->filePath(target == QLatin1String("board")
                                         ? QStringLiteral("sim/1-1/controlboard.bin")
                                         : QStringLiteral("sim/1-1/controlpanel.bin")));
}

QByteArray CliProcessesTest::image(const QString &key) const
{
    return images.value(key);
}

CliProcessesTest::Ran CliProcessesTest::run(const QStringList &arguments)
{
    CliProcess cli(environment);
    cli.start(arguments);
    Ran ran;
    ran.code = cli.finish();
    ran.out = cli.out;
    ran.err = cli.err;
    return ran;
}

// The history's lines under its header.
QStringList CliProcessesTest::historyEntries()
{
    const Ran history = run({QStringLiteral("history")});
    if (history.code != 0)
        return {QStringLiteral("history failed: ") + QString::fromUtf8(history.err)};
    QStringList lines = QString::fromUtf8(history.out).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (!lines.isEmpty())
        lines.removeFirst();
    return lines;
}

void CliProcessesTest::oneProgramPerUnit_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("fileKey");
    // The first's line of output that starts the second; empty: both start at once.
    QTest::addColumn<QByteArray>("secondAfter");

    QTest::newRow("board: two started together") << "board"
                                                 << "board" << QByteArray();
    // The lock is held through the ControlPanel's restart into its bootloader.
    QTest::newRow("panel: the second started as the first writes")
        << "panel"
        << "short panel" << kWritingPhase;
}

// Two updates of the unit at port 1-1: one updates it, the other is refused before it sends
// anything, naming the first.
void CliProcessesTest::oneProgramPerUnit()
{
    QFETCH(QString, target);
    QFETCH(QString, fileKey);
    QFETCH(QByteArray, secondAfter);

    const QStringList arguments{"update",   "--json", "--port",     "1-1",
                                "--target", target,   file(fileKey)};
    CliProcess first(environment);
    CliProcess second(environment);
    first.start(arguments);
    if (!secondAfter.isEmpty())
        QVERIFY2(first.waitFor(&CliProcess::out, secondAfter), first.err.constData());
    second.start(arguments);
    const int firstCode = first.finish();
    const int secondCode = second.finish();

    CliProcess &winner = firstCode == 0 ? first : second;
    CliProcess &loser = firstCode == 0 ? second : first;
    QCOMPARE(QList<int>({firstCode, secondCode}).count(0), 1);
    QCOMPARE(QList<int>({firstCode, secondCode}).count(4), 1);
    const QByteArray refusal = QStringLiteral("\nThe ControlPanel at USB port 1-1 is being updated "
                                              "by zelupdate-cli-sim (process %1)\n")
                                   .arg(winner.id())
                                   .toUtf8();
    QVERIFY2(loser.err.contains(refusal), loser.err.constData());
    QCOMPARE(lastJson(loser.out).value("exitCode").toInt(), 4);
    QVERIFY(flash(target) == image(fileKey));
    // The refused update wrote no line.
    QCOMPARE(historyEntries().size(), 1);
}

void CliProcessesTest::signalsDuringUpdate_data()
{
    // The line of the JSON stream the signals wait for; empty: while --wait waits, before the
    // entry.
    QTest::addColumn<QByteArray>("sendAt");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("fileKey");
    QTest::addColumn<QVector<int>>("sent");
    QTest::addColumn<int>("ignored"); // a signal ignored when the program starts (nohup); 0: none
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("warned");
    QTest::addColumn<QStringList>("result"); // in the result and the history's line; empty: none
    QTest::addColumn<bool>("erased");        // the flash is still erased afterwards

    // Nothing sent yet: the program ends at once, with 128 + the signal.
    const QByteArray waiting;
    const QStringList none;
    const QString panel = QStringLiteral("panel");
    const QString shortPanel = QStringLiteral("short panel");
    QTest::newRow("before entry: Ctrl-C") << waiting << panel << shortPanel << QVector<int>{SIGINT}
                                          << 0 << 130 << false << none << true;
    QTest::newRow("before entry: Ctrl-C twice")
        << waiting << panel << shortPanel << QVector<int>{SIGINT, SIGINT} << 0 << 130 << false
        << none << true;
    QTest::newRow("before entry: SIGTERM")
        << waiting << panel << shortPanel << QVector<int>{SIGTERM} << 0 << 143 << false << none
        << true;
    QTest::newRow("before entry: SIGTERM twice")
        << waiting << panel << shortPanel << QVector<int>{SIGTERM, SIGTERM} << 0 << 143 << false
        << none << true;
    QTest::newRow("before entry: SIGHUP") << waiting << panel << shortPanel << QVector<int>{SIGHUP}
                                          << 0 << 129 << false << none << true;
    QTest::newRow("before entry: SIGHUP twice")
        << waiting << panel << shortPanel << QVector<int>{SIGHUP, SIGHUP} << 0 << 129 << false
        << none << true;
    QTest::newRow("before entry: Ctrl-\\")
        << waiting << panel << shortPanel << QVector<int>{SIGQUIT} << 0 << 131 << false << none
        << true;
    // Ignored from the start, Ctrl-C is ignored throughout; only the SIGTERM after it ends it.
    QTest::newRow("before entry: Ctrl-C ignored from the start")
        << waiting << panel << shortPanel << QVector<int>{SIGINT, SIGTERM} << SIGINT << 143 << false
        << none << true;

    // After the entry: a stop at a page boundary needs a walk long enough to land in.
    const QStringList interrupted{kInterrupted};
    QTest::newRow("writing: Ctrl-C warns, the update goes on")
        << kWritingPhase << panel << shortPanel << QVector<int>{SIGINT} << 0 << 0 << true
        << QStringList{kPanelUpdated} << false;
    QTest::newRow("writing: Ctrl-C twice stops")
        << kWritingPhase << panel << panel << QVector<int>{SIGINT, SIGINT} << 0 << 1 << true
        << interrupted << false;
    QTest::newRow("writing: SIGTERM stops")
        << kWritingPhase << panel << panel << QVector<int>{SIGTERM} << 0 << 1 << false
        << interrupted << false;
    QTest::newRow("writing: SIGTERM twice stops")
        << kWritingPhase << panel << panel << QVector<int>{SIGTERM, SIGTERM} << 0 << 1 << false
        << interrupted << false;
    // Ctrl-\\ would otherwise dump a core and leave the unit half-written in its bootloader.
    QTest::newRow("writing: Ctrl-\\ stops")
        << kWritingPhase << panel << panel << QVector<int>{SIGQUIT} << 0 << 1 << false
        << interrupted << false;
    QTest::newRow("writing: SIGHUP, the update goes on")
        << kWritingPhase << panel << shortPanel << QVector<int>{SIGHUP} << 0 << 0 << false
        << QStringList{kPanelUpdated} << false;
    QTest::newRow("writing: SIGHUP twice, the update goes on")
        << kWritingPhase << panel << shortPanel << QVector<int>{SIGHUP, SIGHUP} << 0 << 0 << false
        << QStringList{kPanelUpdated} << false;
    // Stopped after the entry but before the first page, nothing was written: the ControlPanel is
    // sent back to its application, the control board stays in its bootloader.
    QTest::newRow("entered: SIGTERM before the first page, panel")
        << QByteArray(R"("phase":"departing")") << panel << panel << QVector<int>{SIGTERM} << 0 << 1
        << false
        << QStringList{QString(kInterruptedBeforeWritingError),
                       QString(kPanelBackUnchangedText).arg(QStringLiteral("1-1"))}
        << true;
    QTest::newRow("entered: Ctrl-C twice before the first page, board")
        << QByteArray(R"("phase":"waiting")") << QStringLiteral("board") << QStringLiteral("board")
        << QVector<int>{SIGINT, SIGINT} << 0 << 1 << true
        << QStringList{QString(kInterruptedBeforeWritingError),
                       QString(kBoardLeftInBootloaderText) +
                           ": run the update again with --in-bootloader"}
        << true;
}

void CliProcessesTest::signalsDuringUpdate()
{
    QFETCH(QByteArray, sendAt);
    QFETCH(QString, target);
    QFETCH(QString, fileKey);
    QFETCH(QVector<int>, sent);
    QFETCH(int, ignored);
    QFETCH(int, code);
    QFETCH(bool, warned);
    QFETCH(QStringList, result);
    QFETCH(bool, erased);

    CliProcess cli(environment);
    const bool pastEntry = !sendAt.isEmpty();
    if (pastEntry) {
        cli.start({"update", "--json", "--target", target, file(fileKey)});
        QVERIFY2(cli.waitFor(&CliProcess::out, sendAt), cli.err.constData());
    } else {
        // Port 1-2 is never attached: the wait goes on until the signal.
        const QStringList arguments{"update", "--wait",   "30",   "--port",
                                    "1-2",    "--target", target, file(fileKey)};
        if (ignored)
            cli.startInShell(QStringLiteral("trap '' %1; exec \"$0\" \"$@\"").arg(ignored),
                             arguments);
        else
            cli.start(arguments);
        QVERIFY2(cli.waitFor(&CliProcess::err, kWaiting), cli.err.constData());
    }
    for (int at = 0; at < sent.size(); ++at) {
        cli.send(sent[at]);
        // Two Ctrl-C sent at once would reach the program as one.
        if (pastEntry && sent[at] == SIGINT && at + 1 < sent.size())
            QVERIFY2(cli.waitFor(&CliProcess::err, kWarning), cli.err.constData());
        // An ignored signal leaves the program running: the next one finds it waiting still.
        if (sent[at] == ignored)
            QVERIFY(cli.runs(200));
    }
    QCOMPARE(cli.finish(), code);
    QCOMPARE(cli.err.count(kWarning), warned ? 1 : 0);

    const QStringList history = historyEntries();
    const QByteArray erasedFlash(
        int(target == QLatin1String("board") ? sim::kBoardFlashSize : sim::kPanelFlashSize),
        '\xff');
    QCOMPARE(flash(target) == erasedFlash, erased);
    if (result.isEmpty()) {
        QCOMPARE(history, QStringList());
        return;
    }
    QCOMPARE(history.size(), 1);
    for (const QString &part : result) {
        QVERIFY2(lastJson(cli.out).value("result").toString().contains(part), cli.out.right(400));
        QVERIFY2(history.first().contains(part), qPrintable(history.first()));
    }
    if (code == 0)
        QVERIFY(flash(target) == image(fileKey));
}

void CliProcessesTest::streamsGone_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QVector<int>>("closed"); // the standard descriptors the program starts without

    QTest::newRow("standard output and error closed")
        << R"(exec "$0" "$@" >&- 2>&-)" << QVector<int>{1, 2};
    QTest::newRow("all three standard streams closed")
        << R"(exec "$0" "$@" <&- >&- 2>&-)" << QVector<int>{0, 1, 2};
    // The reader takes the first line and goes; the pipeline's status would be head's.
    QTest::newRow("JSON reader gone")
        << R"("$0" "$@" --json | head -1; exit ${PIPESTATUS[0]})" << QVector<int>{};
    QTest::newRow("message reader gone")
        << R"("$0" "$@" 2>&1 >/dev/null | head -1; exit ${PIPESTATUS[0]})" << QVector<int>{};
}

// Output that can no longer be written is dropped, and nothing the program opens takes the place of
// a closed standard stream. With the simulated devices the one descriptor held through the update
// is the lock file's (on hardware, the hidraw node's): it must hold its mark alone all along, even
// when a Ctrl-C's warning is written from the signal handler, straight to descriptor 2.
void CliProcessesTest::streamsGone()
{
    QFETCH(QString, script);
    QFETCH(QVector<int>, closed);

    CliProcess cli(environment);
    cli.startInShell(script, {"update", "--target", "panel", file(QStringLiteral("short panel"))});
    const QRegularExpression markLine(QStringLiteral("^[a-z0-9]+=.*$"));
    const QRegularExpression pastEntry(QStringLiteral("^process=(\\d+)\n(.*\n)*phase="
                                                      "(departing|returning|writing|verifying)\n"),
                                       QRegularExpression::MultilineOption);
    QStringList strayLines;
    QStringList descriptors;
    bool interrupted = false;
    while (cli.runs(kPollMs)) {
        const QString mark =
            QString::fromUtf8(readFile(folder->filePath("locks/zelupdate-port-1-1.lock")));
        for (const QString &line : mark.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            if (!markLine.match(line).hasMatch())
                strayLines << line;
        // The mark names the program itself, which a pipeline's shell is not.
        const QRegularExpressionMatch entered = pastEntry.match(mark);
        if (!interrupted && entered.hasMatch()) {
            // Each standard descriptor it started without is /dev/null, held for it.
            for (const int fd : closed)
                descriptors << QFile::symLinkTarget(
                    QStringLiteral("/proc/%1/fd/%2").arg(entered.captured(1)).arg(fd));
            interrupted = ::kill(pid_t(entered.captured(1).toLongLong()), SIGINT) == 0;
        }
    }
    QCOMPARE(descriptors.size(), closed.size());
    QCOMPARE(descriptors.filter(QRegularExpression(QStringLiteral("^/dev/null$"))), descriptors);
    QCOMPARE(cli.finish(), 0);
    QVERIFY(interrupted);
    QCOMPARE(strayLines, QStringList());
    QVERIFY(flash(QStringLiteral("panel")) == image(QStringLiteral("short panel")));
    QCOMPARE(readFile(folder->filePath("sim/1-1/state")).trimmed(), QByteArray("application"));
    const QStringList history = historyEntries();
    QCOMPARE(history.size(), 1);
    QVERIFY2(history.first().contains(kPanelUpdated), qPrintable(history.first()));
}

void CliProcessesTest::killedThenRecovered_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("fileKey");
    QTest::addColumn<QString>("updated");

    QTest::newRow("board") << "board"
                           << "board" << kBoardUpdated;
    QTest::newRow("panel") << "panel"
                           << "short panel" << kPanelUpdated;
}

// An update killed as it writes leaves its unit in a bootloader: the next plain update and list say
// so, and --in-bootloader finishes the job.
void CliProcessesTest::killedThenRecovered()
{
    QFETCH(QString, target);
    QFETCH(QString, fileKey);
    QFETCH(QString, updated);

    CliProcess killed(environment);
    killed.start({"update", "--json", "--target", target, file(fileKey)});
    QVERIFY2(killed.waitFor(&CliProcess::out, "\"phase\":\"writing\",\"total\"", 4),
             killed.err.constData());
    killed.send(SIGKILL);
    QCOMPARE(killed.finish(), -1);

    const auto listSays = [this](bool unfinishedShown) {
        const Ran list = run({"list"});
        return list.code == 0 && unfinishedShown == QRegularExpression(kUnfinishedInList)
                                                        .match(QString::fromUtf8(list.out))
                                                        .hasMatch();
    };
    QVERIFY(listSays(true));

    const Ran plain = run({"update", "--target", target, file(fileKey)});
    QCOMPARE(plain.code, 5);
    QVERIFY2(plain.err.contains("did not finish") &&
                 plain.err.contains("Run the update again with --in-bootloader"),
             plain.err.constData());
    // The unit is still in its bootloader, and list still says so.
    QVERIFY(listSays(true));

    const Ran recovery = run({"update", "--in-bootloader", "--target", target, file(fileKey)});
    QCOMPARE(recovery.code, 0);
    QVERIFY2(recovery.out.contains("result: " + updated.toUtf8() + '\n'), recovery.out.constData());
    QVERIFY(flash(target) == image(fileKey));
    QVERIFY(listSays(false));
}

void CliProcessesTest::unusableLockPath_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("code");
    QTest::addColumn<QByteArray>("stream"); // "out" or "err": where the path is named

    const QStringList board{"--target", "board", file(QStringLiteral("board"))};
    QTest::newRow("update") << QStringList{"update"} + board << 4 << QByteArray("err");
    QTest::newRow("update --in-bootloader")
        << QStringList{"update", "--in-bootloader"} + board << 4 << QByteArray("err");
    QTest::newRow("update --each")
        << QStringList{"update", "--each"} + board << 1 << QByteArray("out");
    QTest::newRow("list") << QStringList{"list"} << 0 << QByteArray("out");
    QTest::newRow("probe") << QStringList{"probe"} << 4 << QByteArray("err");
}

// A named pipe at the lock path once made every command that looks at the lock wait forever for a
// writer. Now each refuses it, naming it; --each counts the unit as failed and waits for the next.
void CliProcessesTest::unusableLockPath()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, code);
    QFETCH(QByteArray, stream);

    QVERIFY(QDir().mkpath(folder->filePath("locks")));
    const QString path = folder->filePath("locks/zelupdate-port-1-1.lock");
    QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0666), 0);
    const QByteArray named = "The lock file " + path.toUtf8() +
                             " cannot be used: it is a named "
                             "pipe (FIFO). Remove it";
    CliProcess cli(environment);
    cli.start(arguments);
    if (arguments.contains(QStringLiteral("--each"))) {
        QVERIFY2(cli.waitFor(&CliProcess::out, named), cli.out.constData());
        cli.send(SIGTERM);
    }
    QCOMPARE(cli.finish(), code);
    QVERIFY2((stream == "out" ? cli.out : cli.err).contains(named), cli.err.constData());
    QVERIFY(QFileInfo(path).exists());
    QCOMPARE(flash(QStringLiteral("board")), QByteArray(int(sim::kBoardFlashSize), '\xff'));
}

void CliProcessesTest::eachRunsTogether_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("fileKey");

    QTest::newRow("board") << "board"
                           << "board";
    // Each unit leaves the bus and comes back twice during its update.
    QTest::newRow("panel") << "panel"
                           << "short panel";
}

// Two update --each runs on the same units: each unit is updated once, by one of them; the other
// waits while it is held, then leaves it alone, and counts no failure.
void CliProcessesTest::eachRunsTogether()
{
    QFETCH(QString, target);
    QFETCH(QString, fileKey);

    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-2"));
    const QStringList arguments{"update", "--each", "--target", target, file(fileKey)};
    CliProcess first(environment);
    CliProcess second(environment);
    first.start(arguments);
    second.start(arguments);
    // Every unit updated, or left alone as updated by the other run.
    const auto dealtWith = [](const CliProcess &run) {
        return run.out.count("  updated  ") + run.out.count("  failed ") +
                   run.err.count(": left alone\n") >=
               2;
    };
    QVERIFY2(QTest::qWaitFor([&] { return dealtWith(first) && dealtWith(second); }, kTimeoutMs),
             (first.err + second.err).constData());
    first.send(SIGTERM);
    second.send(SIGTERM);
    QCOMPARE(first.finish(), 0);
    QCOMPARE(second.finish(), 0);

    QCOMPARE(first.out.count("  updated  ") + second.out.count("  updated  "), 2);
    QCOMPARE(first.out.count("  failed ") + second.out.count("  failed "), 0);
    QCOMPARE(historyEntries().size(), 2);
    for (const char *port : {"1-1", "1-2"})
        QVERIFY(readFile(folder->filePath(
                    QStringLiteral("sim/%1/%2")
                        .arg(QLatin1String(port), target == QLatin1String("board")
                                                      ? QStringLiteral("controlboard.bin")
                                                      : QStringLiteral("controlpanel.bin")))) ==
                image(fileKey));
}

void CliProcessesTest::probeSignalled_data()
{
    QTest::addColumn<QVector<int>>("sent");
    QTest::addColumn<int>("code");
    QTest::addColumn<bool>("warned");

    QTest::newRow("Ctrl-C warns, the probe goes on") << QVector<int>{SIGINT} << 0 << true;
    QTest::newRow("Ctrl-C twice stops it once the unit is back")
        << QVector<int>{SIGINT, SIGINT} << 130 << true;
    QTest::newRow("SIGTERM stops it once the unit is back")
        << QVector<int>{SIGTERM} << 143 << false;
    QTest::newRow("Ctrl-\\ stops it once the unit is back")
        << QVector<int>{SIGQUIT} << 131 << false;
    QTest::newRow("SIGHUP, the probe goes on") << QVector<int>{SIGHUP} << 0 << false;
}

// A probe that restarted its unit brings it back to its application before any signal ends it.
void CliProcessesTest::probeSignalled()
{
    QFETCH(QVector<int>, sent);
    QFETCH(int, code);
    QFETCH(bool, warned);

    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QStringLiteral("400"));
    CliProcess cli(environment);
    cli.start({"probe", "--restart", "--yes"});
    QVERIFY2(cli.waitFor(&CliProcess::err, "Restarting it into its bootloader\n"),
             cli.err.constData());
    const QByteArray warning = "Press Ctrl-C again to stop once it is back.\n";
    for (int at = 0; at < sent.size(); ++at) {
        cli.send(sent[at]);
        if (sent[at] == SIGINT && at + 1 < sent.size())
            QVERIFY2(cli.waitFor(&CliProcess::err, warning), cli.err.constData());
    }
    QCOMPARE(cli.finish(), code);
    QCOMPARE(cli.err.count(warning), warned ? 1 : 0);
    QVERIFY2(cli.err.contains("Restarting it into its application\n"), cli.err.constData());
    QCOMPARE(readFile(folder->filePath("sim/1-1/state")).trimmed(), QByteArray("application"));
    // Nothing left for the next program to recover.
    const Ran list = run({"list"});
    QCOMPARE(list.code, 0);
    QVERIFY2(!list.out.contains("did not finish"), list.out.constData());
}

void CliProcessesTest::eachSignalled_data()
{
    QTest::addColumn<QString>("units");
    QTest::addColumn<QString>("faults");
    QTest::addColumn<int>("phases"); // the signal comes once this many phases began
    QTest::addColumn<QByteArray>("phase");
    QTest::addColumn<int>("signal");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("tally"); // the tally it ends with; empty: none

    // The terminal gone, the unit's update finishes and the run waits for the next unit.
    QTest::newRow("SIGHUP while writing, the run goes on")
        << "1-1" << QString() << 1 << kWritingPhase << int(SIGHUP) << 0
        << "\"event\":\"tally\",\"exitCode\":0,\"failed\":0,\"updated\":1";
    // The second unit's update starts afresh: before its entry, Ctrl-C ends the run at once,
    // as it ends a single update.
    QTest::newRow("Ctrl-C before the second unit's entry")
        << "1-1,1-2"
        << "no-reply@Ee@1-2" << 2 << QByteArray(R"("phase":"connecting")") << int(SIGINT) << 130
        << QString();
}

void CliProcessesTest::eachSignalled()
{
    QFETCH(QString, units);
    QFETCH(QString, faults);
    QFETCH(int, phases);
    QFETCH(QByteArray, phase);
    QFETCH(int, signal);
    QFETCH(int, code);
    QFETCH(QString, tally);

    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), units);
    if (!faults.isEmpty())
        environment.insert(QStringLiteral("ZELUPDATE_SIM_FAULTS"), faults);
    CliProcess cli(environment);
    cli.start({"update", "--each", "--json", "--target", "panel", file("short panel")});
    QVERIFY2(cli.waitFor(&CliProcess::out, phase, phases), cli.err.constData());
    cli.send(signal);
    if (!tally.isEmpty()) {
        QVERIFY2(cli.waitFor(&CliProcess::err, "Waiting for the next ControlPanel"),
                 cli.err.constData());
        cli.send(SIGTERM);
    }
    QCOMPARE(cli.finish(), code);
    QCOMPARE(cli.out.contains(tally.toUtf8()) && !tally.isEmpty(), !tally.isEmpty());
}

void CliProcessesTest::settingsRefused_data()
{
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QString>("value"); // <file> stands for a regular file's path
    QTest::addColumn<QString>("message");

    QTest::newRow("unit list") << "ZELUPDATE_SIM_UNITS"
                               << "1-1,hidraw3"
                               << "ZELUPDATE_SIM_UNITS: \"hidraw3\" is not a USB port";
    QTest::newRow("restart time")
        << "ZELUPDATE_SIM_RESTART_MS"
        << "fast"
        << "ZELUPDATE_SIM_RESTART_MS: \"fast\" is not a number of milliseconds";
    QTest::newRow("fault") << "ZELUPDATE_SIM_FAULTS"
                           << "lost-reply@#1"
                           << "ZELUPDATE_SIM_FAULTS: \"lost-reply@#1\": unknown fault kind";
    QTest::newRow("unit without a port")
        << "ZELUPDATE_SIM_PORTLESS"
        << "1-2"
        << "ZELUPDATE_SIM_PORTLESS: \"1-2\": no simulated unit at port \"1-2\"";
    QTest::newRow("bootloader serial")
        << "ZELUPDATE_SIM_BOOTLOADER_SERIAL"
        << "@1-1"
        << "ZELUPDATE_SIM_BOOTLOADER_SERIAL: \"@1-1\": an entry is SERIAL or SERIAL@PORT";
    QTest::newRow("restart kind") << "ZELUPDATE_SIM_RESTARTS"
                                  << "bounces"
                                  << "ZELUPDATE_SIM_RESTARTS: \"bounces\": unknown restart kind";
    QTest::newRow("flash folder under a file")
        << "ZELUPDATE_SIM_DIR"
        << "<file>/sim"
        << "cannot create <file>/sim/1-1: Not a directory: the simulated units keep their flash "
           "there; set ZELUPDATE_SIM_DIR to a folder this user can write\n";
}

// A setting the program cannot use ends it with status 2, the reason on standard error, before
// it touches a unit, its files or the history.
void CliProcessesTest::settingsRefused()
{
    QFETCH(QString, variable);
    QFETCH(QString, value);
    QFETCH(QString, message);
    const QString regularFile = folder->filePath(QStringLiteral("file"));
    QFile made(regularFile);
    QVERIFY(made.open(QIODevice::WriteOnly));
    made.close();
    environment.insert(variable, value.replace(QStringLiteral("<file>"), regularFile));

    const Ran ran = run({QStringLiteral("update"), QStringLiteral("--target"),
                         QStringLiteral("board"), file(QStringLiteral("board"))});
    QCOMPARE(ran.code, 2);
    QCOMPARE(ran.out, QByteArray());
    const QString expected = QStringLiteral("zelupdate-cli-sim: ") +
                             message.replace(QStringLiteral("<file>"), regularFile);
    QVERIFY2(QString::fromUtf8(ran.err).startsWith(expected), ran.err.constData());
    QCOMPARE(QDir(folder->path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("file")});
}

QTEST_GUILESS_MAIN(CliProcessesTest)
#include "tst_cli_processes.moc"
