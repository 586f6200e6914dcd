// The update history: a line for each update that took its file, zelupdate-cli history that shows
// it escaped, and what stands in the history's place, read or written.

#include "CliFixture.h"
#include "CliRun.h"
#include "ExitCodes.h"
#include "SimulatedDevices.h"
#include "TestFiles.h"
#include "UpdateHistory.h"
#include "UpdateTexts.h"

#include <QtTest>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>

using sim::SimulatedDevices;

namespace {

// The history file, or whatever stands in its place, gone.
void removeHistory()
{
    const QString path = historyPath();
    if (!QFile::remove(path))
        QDir().rmdir(path);
}

} // namespace

class HistoryCommandTest : public CliFixture
{
    Q_OBJECT

private slots:

    void history();
    void historyReadErrors_data();
    void historyReadErrors();
    void historyNotWritten_data();
    void historyNotWritten();
    void historyEscaped();
    void historyAfterCutLine();
    void historyEarlierLines();
};

void HistoryCommandTest::history()
{
    QFile::remove(historyPath());
    const CliRun empty = runCli({QStringLiteral("history")});
    QCOMPARE(empty.code, 0);
    QCOMPARE(empty.out, QString());
    QCOMPARE(empty.err, QString());

    const QString path = file(QStringLiteral("board"));
    const auto update = [](const QString &hexFile) {
        return runCli({QStringLiteral("update"), QStringLiteral("--target"),
                       QStringLiteral("board"), hexFile})
            .code;
    };
    // Named as typed in the file's own folder: the history holds the whole path all the same.
    const QString workingFolder = QDir::currentPath();
    QVERIFY(QDir::setCurrent(QFileInfo(path).path()));
    const int typedCode = update(QFileInfo(path).fileName());
    const QString typedPath = QDir::current().absoluteFilePath(QFileInfo(path).fileName());
    QVERIFY(QDir::setCurrent(workingFolder));
    QCOMPARE(typedCode, 0);
    SimulatedDevices::instance().setDeviceCount(0);
    QCOMPARE(update(path), 4);
    SimulatedDevices::instance().setDeviceCount(1);
    QCOMPARE(update(path), 0);

    const CliRun run = runCli({QStringLiteral("history")});
    QCOMPARE(run.code, 0);
    // One header, then a line for each update that took the file; without a ControlPanel the
    // sequence never took it: nothing to record.
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QStringLiteral("time\tfront end\ttarget\tfile\tsha256\tused "
                                      "pages\tseconds\tresult\tport\tserial"));
    const QStringList paths{typedPath, path};
    for (int entry = 0; entry < 2; ++entry) {
        const QStringList fields = lines[1 + entry].split(QLatin1Char('\t'));
        QCOMPARE(fields.size(), 10);
        QCOMPARE(fields.mid(1, 3), (QStringList{"command line", "board", paths[entry]}));
        QCOMPARE(fields[5], QStringLiteral("96"));
        QCOMPARE(fields[7], QString(kBoardUpdatedText));
        QCOMPARE(fields.mid(8), (QStringList{"1-1", "CP1000"}));
    }
    QCOMPARE(lines[3], QString());
}

void HistoryCommandTest::historyReadErrors_data()
{
    // What stands in the history file's place: a folder, or a link to this.
    QTest::addColumn<QString>("linkTo");

    QTest::newRow("a folder") << QString();
    QTest::newRow("a dangling link") << folder.filePath(QStringLiteral("gone.tsv"));
    // It opens, but reading its first byte fails (EIO): the failure comes while streaming.
    QTest::newRow("a read error") << QStringLiteral("/proc/self/mem");
    // No writer would ever come: refused at once, never waited on.
    QTest::newRow("a named pipe") << QStringLiteral("fifo");
    // A link, even to a file that reads, is never followed.
    QTest::newRow("a link to a regular file") << folder.filePath(QStringLiteral("elsewhere.tsv"));
}

void HistoryCommandTest::historyReadErrors()
{
    QFETCH(QString, linkTo);

    const QString path = historyPath();
    removeHistory();
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    if (linkTo.endsWith(QLatin1String("elsewhere.tsv")))
        QVERIFY(writeFile(linkTo, "time\n"));
    if (linkTo == QLatin1String("fifo"))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else
        QVERIFY(linkTo.isEmpty() ? QDir().mkdir(path) : QFile::link(linkTo, path));
    const CliRun run = runCli({QStringLiteral("history")});
    removeHistory();
    QCOMPARE(run.code, int(kExitHistoryUnreadable));
    QCOMPARE(run.out, QString());
    QVERIFY2(run.err.startsWith(QStringLiteral("zelupdate-cli: cannot read %1: ").arg(path)),
             qPrintable(run.err));
}

void HistoryCommandTest::historyNotWritten_data()
{
    QTest::addColumn<QString>("blocking");
    QTest::addColumn<QString>("warning"); // %1 is the state folder

    // The history's folder would have to be made inside a plain file.
    QTest::newRow("folder in a file") << "file"
                                      << "cannot create the folder of %1/zelUpdate/history.tsv";
    // A pipe at the history's path would hold the update after the device was written.
    QTest::newRow("named pipe") << "fifo"
                                << "cannot open %1/zelUpdate/history.tsv: not a regular file";
    // A link could turn the history onto any file this user may write.
    QTest::newRow("symbolic link")
        << "link"
        << "cannot open %1/zelUpdate/history.tsv: a symbolic link, not a regular file";
    // The line does not fit under the file size limit.
    QTest::newRow("file size limit") << "limit"
                                     << "cannot write %1/zelUpdate/history.tsv: File too large";
}

void HistoryCommandTest::historyNotWritten()
{
    QFETCH(QString, blocking);
    QFETCH(QString, warning);

    const QString state = folder.filePath(QStringLiteral("blocked-") + blocking);
    const QByteArray history = QFile::encodeName(state + QStringLiteral("/zelUpdate/history.tsv"));
    if (blocking == QLatin1String("file")) {
        QVERIFY(writeFile(state, "x"));
    } else {
        QVERIFY(QDir().mkpath(state + QStringLiteral("/zelUpdate")));
        if (blocking == QLatin1String("fifo"))
            QCOMPARE(::mkfifo(history.constData(), 0600), 0);
        if (blocking == QLatin1String("link"))
            QCOMPARE(
                ::symlink(
                    QFile::encodeName(folder.filePath(QStringLiteral("target.tsv"))).constData(),
                    history.constData()),
                0);
    }
    qputenv("XDG_STATE_HOME", state.toUtf8());
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
    const rlimit unlimited = limit;
    // Past the limit a write fails with EFBIG, once the signal that would end the process is
    // ignored; the lock's mark is smaller than the history's header.
    const auto xfsz = std::signal(SIGXFSZ, SIG_IGN);
    if (blocking == QLatin1String("limit")) {
        limit.rlim_cur = 200;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
    }
    const CliRun run = runCli({QStringLiteral("update"), QStringLiteral("--target"),
                               QStringLiteral("board"), file(QStringLiteral("board"))});
    QCOMPARE(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
    std::signal(SIGXFSZ, xfsz);
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    QVERIFY(!QFileInfo::exists(folder.filePath(QStringLiteral("target.tsv"))));
    QCOMPARE(run.code, 0);
    QVERIFY2(run.err.contains(QStringLiteral("warning: update history not written: ") +
                              warning.arg(state) + '\n'),
             qPrintable(run.err));
    QVERIFY(boardFlash() == boardImage);
}

// A history edited by hand or damaged reaches the terminal escaped: its tabs and line ends are its
// layout, anything else a terminal would obey is shown as an escape.
void HistoryCommandTest::historyEscaped()
{
    QVERIFY(QDir().mkpath(QFileInfo(historyPath()).path()));
    QVERIFY(writeFile(historyPath(), QByteArray(kHistoryHeader) +
                                         "\n2026-12-09T11:44:10\tcommand line\tboard\tfw.hex\t-\t0"
                                         "\t0.1\t\x1b[2J\xc2\x9b"
                                         "31m\rgone\t1-1\tCP1000\n"));
    const CliRun run = runCli({QStringLiteral("history")});
    QFile::remove(historyPath());
    QCOMPARE(run.code, 0);
    QVERIFY2(run.out.endsWith(QStringLiteral("\t0.1\t\\x1b[2J\\x9b31m\\rgone\t1-1\tCP1000\n")),
             qPrintable(run.out));
}

// A history whose last line lost its line end (a full disk, an edit) keeps its next line whole.
void HistoryCommandTest::historyAfterCutLine()
{
    const QString state = folder.filePath(QStringLiteral("cut"));
    QVERIFY(QDir().mkpath(state + QStringLiteral("/zelUpdate")));
    QVERIFY(writeFile(state + QStringLiteral("/zelUpdate/history.tsv"), "header\ncut short"));
    qputenv("XDG_STATE_HOME", state.toUtf8());
    const CliRun run = runCli({QStringLiteral("update"), QStringLiteral("--target"),
                               QStringLiteral("board"), file(QStringLiteral("board"))});
    const QStringList lines =
        QString::fromUtf8(readFile(state + QStringLiteral("/zelUpdate/history.tsv")))
            .split(QLatin1Char('\n'));
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    QCOMPARE(run.code, 0);
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[1], QStringLiteral("cut short"));
    QVERIFY2(lines[2].contains(QLatin1String("\tboard\t")), qPrintable(lines[2]));
}

// A history begun before the port and serial columns: its header names them and its lines show
// them empty, while lines written since keep theirs.
void HistoryCommandTest::historyEarlierLines()
{
    const QString state = folder.filePath(QStringLiteral("earlier"));
    QVERIFY(QDir().mkpath(state + QStringLiteral("/zelUpdate")));
    const QByteArray earlier = "2025-01-02T03:04:05\twindow\tpanel\t/a.hex\t-\t0\t1.0\tNo file\n";
    QVERIFY(writeFile(state + QStringLiteral("/zelUpdate/history.tsv"),
                      "time\tfront end\ttarget\tfile\tsha256\tused pages\tseconds\tresult\n" +
                          earlier));
    qputenv("XDG_STATE_HOME", state.toUtf8());
    const int code = runCli({QStringLiteral("update"), QStringLiteral("--target"),
                             QStringLiteral("board"), file(QStringLiteral("board"))})
                         .code;
    const CliRun run = runCli({QStringLiteral("history")});
    qputenv("XDG_STATE_HOME", folder.filePath(QStringLiteral("state")).toUtf8());
    QCOMPARE(code, 0);
    QCOMPARE(run.code, 0);
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QString::fromLatin1(kHistoryHeader));
    QCOMPARE(lines[1], QString::fromLatin1(earlier.trimmed()) + QStringLiteral("\t\t"));
    QVERIFY2(lines[2].endsWith(QStringLiteral("\t1-1\tCP1000")), qPrintable(lines[2]));
}

QTEST_GUILESS_MAIN(HistoryCommandTest)
#include "tst_historycommand.moc"
