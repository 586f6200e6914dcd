// The update sequence without a window: a recording host answers for the user, the simulated
// ControlPanel and control board restart at once, and the waits are counted, never slept. Every
// case checks what the user was shown and in what order, how the sequence says it ended, the
// reports written, the hidapi calls, the HEX file's use, the flash, the target profile and the
// line added to the update history.

#include "CommandChannel.h"
#include "FileUse.h"
#include "RecordingHost.h"
#include "SequenceFlash.h"
#include "SequenceScenario.h"
#include "TargetProfile.h"
#include "TestDevices.h"
#include "UnitLock.h"
#include "UpdateHistory.h"
#include "UpdateSequence.h"
#include "UpdateTexts.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>

using sim::Fault;
using sim::FaultKind;
using sim::FaultTrigger;
using std::chrono::milliseconds;

enum class Choice
{
    Cancel,  // the file dialog is cancelled
    Good,    // a file the loader takes
    Removed, // a file that is gone by the time the sequence opens it
    Refused, // a file the loader refuses
    Fifo,    // a named pipe, which no one writes to
};

// What the user picks in the file dialog.
enum class FileKind
{
    Regular,
    Fifo,           // no one writes to it
    FifoWithWriter, // held open by a writer that has already written a whole HEX file
    Folder,
    DevNull,
    Missing,
};

Q_DECLARE_METATYPE(sim::FaultKind)
Q_DECLARE_METATYPE(sim::PanelAccess)
Q_DECLARE_METATYPE(Choice)
Q_DECLARE_METATYPE(FileKind)
Q_DECLARE_METATYPE(SequenceEnd)

namespace {

const QString kFileDialog = QStringLiteral("file dialog");
const QString kWaitOver = QStringLiteral("wait over");
const QString kErrorBox = QStringLiteral("box: An error occured during firmware update\n");
const QString kEntryErrorBox = kErrorBox + "USB communication error during bootloader entry";
const QString kStartErrorBox = kErrorBox + "USB communication error during bootloader start";
const QString kNoDevice = QStringLiteral(
    "connection error: Can't open USB connection to ControlPanel / Connect a ControlPanel to this "
    "computer with a USB cable and then power up the ControlPanel / ");
const QString kNoConnection = QStringLiteral("critical: Error: Can't connect to ControlPanel");
const QString kNoFile = QStringLiteral("critical: Error: Can't open hex file");
const QString kNoProfile = QStringLiteral("0/0/0");

QString endName(SequenceEnd end)
{
    switch (end) {
    case SequenceEnd::Updated:
        return QStringLiteral("Updated");
    case SequenceEnd::NoFileChosen:
        return QStringLiteral("NoFileChosen");
    case SequenceEnd::FileRefused:
        return QStringLiteral("FileRefused");
    case SequenceEnd::NoControlPanel:
        return QStringLiteral("NoControlPanel");
    case SequenceEnd::DeviceNotAnswering:
        return QStringLiteral("DeviceNotAnswering");
    case SequenceEnd::FailedWhileWriting:
        return QStringLiteral("FailedWhileWriting");
    case SequenceEnd::FileRefusedInBootloader:
        return QStringLiteral("FileRefusedInBootloader");
    case SequenceEnd::NotBackInApplication:
        return QStringLiteral("NotBackInApplication");
    }
    return QStringLiteral("?");
}

QString profileText(const TargetProfile &profile)
{
    return QStringLiteral("%1/%2/%3")
        .arg(profile.imageLimit)
        .arg(profile.pageCount)
        .arg(profile.pageSize);
}

QString profileOf(Target target)
{
    return profileText(isPanel(target) ? kControlPanelProfile : kControlBoardProfile);
}

// One wait as the host records it: shown over ten steps, each after its pause. Both targets'
// waits look alike to the engine; only the window labels them.
QStringList waitLines()
{
    return {QStringLiteral("wait: 10"), QStringLiteral("steps: 1 2 3 4 5 6 7 8 9 10")};
}

QStringList panelWait()
{
    return waitLines();
}

QStringList boardWait()
{
    return waitLines();
}

QStringList walkLines(Target target)
{
    return {QStringLiteral("walk: writing %1").arg(pagesFor(target).size()),
            QStringLiteral("walk: finish")};
}

// What a whole successful update shows, from the file dialog on.
QStringList successTimeline(Target target)
{
    QStringList shown{kFileDialog};
    if (isPanel(target))
        return shown << panelWait() << walkLines(target) << QStringLiteral("wait again")
                     << panelWait().mid(1)
                     << QStringLiteral("box: The ControlPanel firmware has been updated")
                     << kWaitOver;
    return shown << boardWait() << walkLines(target)
                 << QStringLiteral("box: The ZEL02 firmware has been updated") << kWaitOver;
}

// Every step of a whole walk over `used` pages, as RecordingProgress writes them; the control
// board's programmer ends its walk with the boot exit.
QStringList wholeWalk(int used, bool bootExit)
{
    QStringList events{QStringLiteral("writing %1").arg(used)};
    for (int value = 1; value <= used; ++value)
        events << QStringLiteral("step %1").arg(value);
    events << QStringLiteral("verifying %1").arg(used);
    for (int value = 1; value <= used; ++value)
        events << QStringLiteral("step %1").arg(value);
    if (bootExit)
        events << QStringLiteral("leaving 0");
    return events << QStringLiteral("finish");
}

// A list as one text, so that a failure shows both sides whole.
QString lines(const QStringList &list)
{
    return list.join(QStringLiteral(" | "));
}

int waitsIn(const QStringList &calls)
{
    return int(calls.filter(QRegularExpression(QStringLiteral("^steps: "))).size());
}

// The descriptors held on the file at each line: none up to the file dialog; from then on one
// while the sequence holds the file open, up to the line that `releasedFrom` counts from the end
// (0: held to the end).
QVector<int> heldAt(const QStringList &calls, bool opened, int releasedFrom = 0)
{
    QVector<int> held(calls.size(), 0);
    const int dialog = calls.indexOf(kFileDialog);
    for (int i = dialog + 1; opened && dialog >= 0 && i < calls.size() - releasedFrom; ++i)
        held[i] = 1;
    return held;
}

// The text of the last message the host showed: what the outcome must name.
QString lastMessage(const QStringList &calls)
{
    for (auto line = calls.crbegin(); line != calls.crend(); ++line) {
        for (const char *prefix : {"box: ", "critical: ", "connection error: "}) {
            if (line->startsWith(QLatin1String(prefix)))
                return line->mid(int(std::strlen(prefix))).section(QStringLiteral(" / "), 0, 0);
        }
    }
    return {};
}

// The history file's lines, the header first, each split into its fields.
QList<QStringList> historyLines()
{
    QFile file(historyPath());
    QList<QStringList> rows;
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return rows;
    const QList<QByteArray> all = file.readAll().split('\n');
    for (const QByteArray &line : all) {
        if (!line.isEmpty())
            rows << QString::fromUtf8(line).split(QLatin1Char('\t'));
    }
    return rows;
}

// The result field of each history line after the header.
QStringList historyResults()
{
    QStringList results;
    const QList<QStringList> rows = historyLines();
    for (int i = 1; i < rows.size(); ++i)
        results << rows[i].value(7);
    return results;
}

// The history's escaping of a field.
QString escaped(QString field)
{
    return field.replace(QLatin1Char('\\'), QLatin1String("\\\\"))
        .replace(QLatin1Char('\t'), QLatin1String("\\t"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"));
}

// SHA-256 of all of the target's pages as the file sets them.
QString imageHash(Target target)
{
    const auto image = imageOf(blocksFor(target));
    const TargetProfile &profile = target->profile;
    const QByteArray pages(reinterpret_cast<const char *>(image->data()),
                           int(profile.pageCount * profile.pageSize));
    return QString::fromLatin1(QCryptographicHash::hash(pages, QCryptographicHash::Sha256).toHex());
}

// The channel and profile of a front end that runs one sequence after another, and where the
// devices' counts stood before the latest.
class Bench
{
public:
    UpdateOutcome run(Target target, RecordingHost &host)
    {
        tally.mark();
        const UpdateOutcome outcome = runUpdateSequence(*target, channel, host, options);
        // As the window keeps the profile of the last update that got past its connection check.
        if (outcome.profile)
            profile = *outcome.profile;
        return outcome;
    }

    int opens() const { return tally.opens(); }
    int closes() const { return tally.closes(); }
    int exits() const { return tally.exits(); }
    Reports sent() const { return tally.sent(); }

    CommandChannel channel;
    TargetProfile profile{};
    SequenceOptions options;

private:
    DeviceTally tally;
};

} // namespace

class UpdateSequenceTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();

    void successfulUpdate_data();
    void successfulUpdate();
    void earlyEnds_data();
    void earlyEnds();
    void failuresAfterTheWait_data();
    void failuresAfterTheWait();
    void connectionProblems_data();
    void connectionProblems();
    void fileKinds_data();
    void fileKinds();
    void followedUnits_data();
    void followedUnits();
    void historyLine_data();
    void historyLine();
    void historyNotWritten_data();
    void historyNotWritten();
    void historyWritersTakeTurns();

private:
    QString writeHex(const QString &name, const QByteArray &text);
    // What every sequence leaves, however it ended: the outcome's text is the last message, the
    // waits paused as long as the devices need, and a history line exactly when a file was chosen.
    void checkCommon(const RecordingHost &host, const UpdateOutcome &outcome);

    QTemporaryDir files;
    QTemporaryDir state;
};

void UpdateSequenceTest::initTestCase()
{
    QVERIFY(files.isValid());
    QVERIFY(state.isValid());
    // A relative XDG_STATE_HOME is ignored: the history would move with the working folder.
    qputenv("XDG_STATE_HOME", "state");
    QCOMPARE(historyPath(),
             QDir::homePath() + QStringLiteral("/.local/state/zelUpdate/history.tsv"));
    qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
    QCOMPARE(historyPath(), state.path() + QStringLiteral("/zelUpdate/history.tsv"));
    qputenv("ZELUPDATE_LOCK_DIR", QFile::encodeName(state.filePath(QStringLiteral("locks"))));
}

void UpdateSequenceTest::init()
{
    devices().reset();
    QFile::remove(historyPath());
    // A case's marks must not tell the next of its units.
    QDir locks(state.filePath(QStringLiteral("locks")));
    for (const QString &name : locks.entryList(QDir::Files))
        QVERIFY(locks.remove(name));
}

QString UpdateSequenceTest::writeHex(const QString &name, const QByteArray &text)
{
    return writeHexFile(QFileInfo(files.path()).canonicalFilePath(), name, text);
}

void UpdateSequenceTest::checkCommon(const RecordingHost &host, const UpdateOutcome &outcome)
{
    QCOMPARE(outcome.text, lastMessage(host.calls));
    QCOMPARE(host.pauses, 10 * waitsIn(host.calls));
    QCOMPARE(host.stepsWithoutPause, 0);
    // The ControlPanel takes up to three seconds to restart, the board's bootloader as long.
    QCOMPARE(host.pausedMs, 3000 * waitsIn(host.calls));
    QCOMPARE(historyResults(),
             outcome.file.isEmpty() ? QStringList() : QStringList{escaped(outcome.text)});
    QVERIFY(outcome.seconds >= 0);
}

void UpdateSequenceTest::successfulUpdate_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("reuse");       // a cancelled sequence leaves the channel open first
    QTest::addColumn<QByteArray>("fault"); // the command it strikes; empty for none
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("closes");

    const Target panel = &kControlPanelTarget;
    const Target board = &kControlBoardTarget;
    // Built from code points so that a wrong source encoding cannot make both sides agree.
    const QString foreign = QLatin1String("H") + QChar(0x00E4) + QLatin1String("mtningar/fw_") +
                            QChar(0x03A9) + QLatin1String(".hex");
    const QString plain = QStringLiteral("update.hex");
    const QByteArray none;
    const FaultKind noFault = FaultKind::NoReply;

    QTest::newRow("panel, reused") << panel << plain << true << none << noFault << 1 << 2;
    QTest::newRow("panel, beyond Latin-1")
        << panel << foreign << false << none << noFault << 2 << 2;
    QTest::newRow("board, reused") << board << plain << true << none << noFault << 0 << 1;
    QTest::newRow("board, beyond Latin-1")
        << board << foreign << false << none << noFault << 1 << 1;
    // A reply that comes twice or unasked is left behind by the next command's own exchange.
    QTest::newRow("panel, check answered twice")
        << panel << plain << false << QByteArray("Ee") << FaultKind::DuplicatedReply << 2 << 2;
    QTest::newRow("panel, report unasked after entry")
        << panel << plain << false << QByteArray("Bb") << FaultKind::Unsolicited << 2 << 2;
    QTest::newRow("panel, exit answered twice")
        << panel << plain << false << QByteArray("bB") << FaultKind::DuplicatedReply << 2 << 2;
    QTest::newRow("board, entry answered twice")
        << board << plain << false << QByteArray("Kk") << FaultKind::DuplicatedReply << 1 << 1;
    QTest::newRow("board, report unasked after start")
        << board << plain << false << QByteArray("Cc") << FaultKind::Unsolicited << 1 << 1;
}

// A whole update: what it shows, how it ends, what it writes, and that it leaves both devices in
// their applications and the channel closed.
void UpdateSequenceTest::successfulUpdate()
{
    QFETCH(Target, target);
    QFETCH(QString, name);
    QFETCH(bool, reuse);
    QFETCH(QByteArray, fault);
    QFETCH(FaultKind, kind);
    QFETCH(int, opens);
    QFETCH(int, closes);

    const QString path = writeHex(name, hexFile(blocksFor(target)));
    QVERIFY(!path.isEmpty());
    QVERIFY2(QFile::decodeName(QFile::encodeName(path)) == path,
             "the file system's encoding cannot hold the name");
    FileUse use(path);
    QVERIFY(use.isValid());
    if (!fault.isEmpty())
        devices().injectFault(FaultTrigger::onCommand(fault[0], fault[1]), Fault{kind});

    Bench bench;
    if (reuse) {
        RecordingHost cancelled;
        QCOMPARE(endName(bench.run(target, cancelled).end), endName(SequenceEnd::NoFileChosen));
        QCOMPARE(lines(cancelled.calls), kFileDialog);
        QCOMPARE(devices().openHandles(), 1);
    }
    RecordingHost host;
    host.files = QStringList{path};
    host.watched = QFile::encodeName(path);
    const UpdateOutcome outcome = bench.run(target, host);

    QCOMPARE(lines(host.calls), lines(successTimeline(target)));
    QCOMPARE(endName(outcome.end), endName(SequenceEnd::Updated));
    checkCommon(host, outcome);
    QCOMPARE(outcome.file, path);
    QVERIFY(outcome.loaded.loaded);
    QCOMPARE(outcome.loaded.usedPages, std::uint32_t(pagesFor(target).size()));
    QCOMPARE(QString::fromLatin1(outcome.loaded.sha256), imageHash(target));
    QCOMPARE(lines(host.walk.events),
             lines(wholeWalk(int(pagesFor(target).size()), !isPanel(target))));
    // The ControlPanel's second wait is its return to the application; the control board's
    // programmer sends its boot exit itself.
    QCOMPARE(lines(host.phases),
             isPanel(target) ? "connecting | entering | waiting | writing | verifying | leaving | "
                               "restarting"
                             : "connecting | entering | waiting | writing | verifying | leaving");
    QCOMPARE(describe(bench.sent()), describe(expectedTraffic(target, -1, isPanel(target))));
    QCOMPARE(bench.opens(), opens);
    QCOMPARE(bench.closes(), closes);
    QCOMPARE(bench.exits(), closes);
    QCOMPARE(devices().openHandles(), 0);
    QCOMPARE(profileText(bench.profile), profileOf(target));
    QCOMPARE(host.held, heldAt(host.calls, true));
    QCOMPARE(descriptorsOn(QFile::encodeName(path)), 0);
    QCOMPARE(use.events(), QStringList({"open", "close"}));
    QCOMPARE(flashDifference(target, int(pagesFor(target).size())), QString());
    QCOMPARE(devices().panelState(), sim::PanelState::Application);
    QCOMPARE(devices().boardState(), sim::BoardState::Application);
}

void UpdateSequenceTest::earlyEnds_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<int>("panels");
    QTest::addColumn<QByteArray>("fault"); // the command it strikes; empty for none
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<Choice>("choice");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<SequenceEnd>("end");
    QTest::addColumn<int>("reports");
    QTest::addColumn<QStringList>("fileUse");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("closes");
    QTest::addColumn<int>("exits");
    QTest::addColumn<bool>("channelOpen");
    QTest::addColumn<bool>("profileSet");
    QTest::addColumn<QStringList>("again"); // what the next sequence shows

    const Target panel = &kControlPanelTarget;
    const Target board = &kControlBoardTarget;
    const QStringList unused;
    const QStringList openedAndClosed{"open", "close"};
    const QStringList chooser{kFileDialog};
    const FaultKind noFault = FaultKind::NoReply;

    for (Target target : {panel, board}) {
        const QByteArray name = isPanel(target) ? "panel: " : "board: ";
        QTest::newRow(name + "no device")
            << target << 0 << QByteArray() << noFault << Choice::Good << QStringList{kNoDevice}
            << SequenceEnd::NoControlPanel << 0 << unused << 1 << 0 << 1 << false << false
            << chooser;
        QTest::newRow(name + "check not echoed")
            << target << 1 << QByteArray("Ee") << FaultKind::WrongEcho << Choice::Good
            << QStringList{kNoConnection} << SequenceEnd::DeviceNotAnswering << 1 << unused << 1
            << 0 << 0 << true << false << chooser;
        QTest::newRow(name + "check unanswered")
            << target << 1 << QByteArray("Ee") << FaultKind::NoReply << Choice::Good
            << QStringList{kNoConnection} << SequenceEnd::DeviceNotAnswering << 1 << unused << 1
            << 0 << 0 << true << false << chooser;
        QTest::newRow(name + "choice cancelled")
            << target << 1 << QByteArray() << noFault << Choice::Cancel << QStringList{kFileDialog}
            << SequenceEnd::NoFileChosen << 1 << unused << 1 << 0 << 0 << true << true << chooser;
        QTest::newRow(name + "file gone")
            << target << 1 << QByteArray() << noFault << Choice::Removed
            << QStringList{kFileDialog, kNoFile} << SequenceEnd::FileRefused << 1 << unused << 1
            << 0 << 0 << true << true << chooser;
        // A pipe would block the program for as long as no one writes to it: refused at once.
        QTest::newRow(name + "pipe chosen")
            << target << 1 << QByteArray() << noFault << Choice::Fifo
            << QStringList{kFileDialog, kNoFile} << SequenceEnd::FileRefused << 1 << openedAndClosed
            << 1 << 0 << 0 << true << true << chooser;
    }
    QTest::newRow("panel: check's second byte wrong")
        << panel << 1 << QByteArray("Ee") << FaultKind::WrongSecondByte << Choice::Good
        << QStringList{kNoConnection} << SequenceEnd::DeviceNotAnswering << 1 << unused << 1 << 0
        << 0 << true << false << chooser;
    // The user is told when the target may have been left in its bootloader.
    const QStringList entryFailed{kFileDialog, kEntryErrorBox};
    const SequenceEnd notAnswering = SequenceEnd::DeviceNotAnswering;
    // The ControlPanel took the entry command and restarted into its bootloader, which refuses
    // the next connection check.
    QTest::newRow("panel: entry not echoed")
        << panel << 1 << QByteArray("Bb") << FaultKind::WrongEcho << Choice::Good << entryFailed
        << notAnswering << 2 << openedAndClosed << 1 << 1 << 1 << false << true
        << QStringList{kNoConnection};
    QTest::newRow("panel: entry write fails")
        << panel << 1 << QByteArray("Bb") << FaultKind::FailedWrite << Choice::Good << entryFailed
        << notAnswering << 2 << openedAndClosed << 1 << 1 << 1 << false << true << chooser;
    // The ControlPanel took the entry command and relays to the board from then on, whose
    // bootloader refuses the next connection check.
    QTest::newRow("board: entry not echoed")
        << board << 1 << QByteArray("Kk") << FaultKind::WrongEcho << Choice::Good << entryFailed
        << notAnswering << 2 << openedAndClosed << 1 << 1 << 1 << false << true
        << QStringList{kNoConnection};
    QTest::newRow("board: entry's second byte wrong")
        << board << 1 << QByteArray("Kk") << FaultKind::WrongSecondByte << Choice::Good
        << entryFailed << notAnswering << 2 << openedAndClosed << 1 << 1 << 1 << false << true
        << QStringList{kNoConnection};
    QTest::newRow("board: entry write fails")
        << board << 1 << QByteArray("Kk") << FaultKind::FailedWrite << Choice::Good << entryFailed
        << notAnswering << 2 << openedAndClosed << 1 << 1 << 1 << false << true << chooser;
}

// Every way a sequence ends before the wait, then the next one, cancelled at the file dialog if
// it comes: it reuses a channel the first one left open and opens a new one otherwise.
void UpdateSequenceTest::earlyEnds()
{
    QFETCH(Target, target);
    QFETCH(int, panels);
    QFETCH(QByteArray, fault);
    QFETCH(FaultKind, kind);
    QFETCH(Choice, choice);
    QFETCH(QStringList, shown);
    QFETCH(SequenceEnd, end);
    QFETCH(int, reports);
    QFETCH(QStringList, fileUse);
    QFETCH(int, opens);
    QFETCH(int, closes);
    QFETCH(int, exits);
    QFETCH(bool, channelOpen);
    QFETCH(bool, profileSet);
    QFETCH(QStringList, again);

    const QString path = writeHex(QStringLiteral("early.hex"), hexFile(blocksFor(target)));
    QVERIFY(!path.isEmpty());
    if (choice == Choice::Fifo) {
        QVERIFY(QFile::remove(path));
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    FileUse use(path);
    QVERIFY(use.isValid());
    devices().setDeviceCount(panels);
    if (!fault.isEmpty())
        devices().injectFault(FaultTrigger::onCommand(fault[0], fault[1]), Fault{kind});

    Bench bench;
    RecordingHost host;
    host.watched = QFile::encodeName(path);
    if (choice != Choice::Cancel)
        host.files = QStringList{path};
    if (choice == Choice::Removed)
        host.onChosen = [](const QString &chosen) { QFile::remove(chosen); };
    const UpdateOutcome outcome = bench.run(target, host);

    QCOMPARE(lines(host.calls), lines(shown));
    QCOMPARE(endName(outcome.end), endName(end));
    checkCommon(host, outcome);
    QCOMPARE(outcome.file,
             shown.contains(kFileDialog) && choice != Choice::Cancel ? path : QString());
    QVERIFY(!outcome.loaded.loaded);
    QVERIFY(host.walk.events.isEmpty());
    const Reports first = bench.sent();
    QCOMPARE(describe(first), describe(expectedTraffic(target, reports, false)));
    QCOMPARE(bench.opens(), opens);
    QCOMPARE(bench.closes(), closes);
    QCOMPARE(bench.exits(), exits);
    QCOMPARE(devices().openHandles(), channelOpen ? 1 : 0);
    QCOMPARE(profileText(bench.profile), profileSet ? profileOf(target) : kNoProfile);
    QCOMPARE(host.held, heldAt(host.calls, false));
    QCOMPARE(descriptorsOn(QFile::encodeName(path)), 0);
    QCOMPARE(use.events(), fileUse);
    QCOMPARE(QFileInfo::exists(path), choice != Choice::Removed);
    QCOMPARE(flashDifference(&kControlBoardTarget, 0), QString());
    if (panels > 0)
        QCOMPARE(flashDifference(&kControlPanelTarget, 0), QString());

    // The next sequence: the connection check first, over what the last report left.
    devices().setDeviceCount(1);
    RecordingHost next;
    bench.run(target, next);
    QCOMPARE(lines(next.calls), lines(again));
    QCOMPARE(describe(bench.sent()), describe(Reports{followedBy(first, 'E', 'e')}));
    QCOMPARE(bench.opens(), channelOpen ? 0 : 1);
    QCOMPARE(bench.closes(), 0);
    QCOMPARE(bench.exits(), 0);
    QCOMPARE(devices().openHandles(), 1);
    QCOMPARE(profileText(bench.profile), profileOf(target));
    QCOMPARE(use.events(), fileUse);
}

void UpdateSequenceTest::failuresAfterTheWait_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<Choice>("choice");
    QTest::addColumn<QByteArray>("fault"); // the command it strikes; empty for none
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<int>("faultByte");
    QTest::addColumn<int>("restartMs");
    QTest::addColumn<int>("boardEntryMs");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<SequenceEnd>("end");
    QTest::addColumn<int>("reports"); // of the whole update's, -1 for all
    QTest::addColumn<bool>("exitSent");
    QTest::addColumn<int>("pagesWritten");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("closes");
    QTest::addColumn<int>("exits");

    const Target panel = &kControlPanelTarget;
    const Target board = &kControlBoardTarget;
    const auto panelImage = imageOf(blocksFor(panel));
    const auto boardImage = imageOf(blocksFor(board));
    const QStringList panelWalk = walkLines(panel);
    const QStringList boardWalk = walkLines(board);
    const QStringList panelBack = QStringList{"wait again"} + panelWait().mid(1);
    const QStringList boardStart = QStringList{kFileDialog} + boardWait();
    const FaultKind noFault = FaultKind::NoReply;

    // Ten seconds are longer than the waits: the ControlPanel is still away, the board's
    // bootloader not yet started, when the sequence goes on.
    QTest::newRow("panel: not back from its restart")
        << panel << Choice::Good << QByteArray() << 0 << noFault << 0 << 10000 << 0
        << QStringList{kFileDialog} + panelWait() +
               QStringList{"box: Could not update ControlPanel firmware.", kWaitOver}
        << SequenceEnd::DeviceNotAnswering << 2 << false << 0 << 1 << 1 << 2;
    QTest::newRow("panel: file refused")
        << panel << Choice::Refused << QByteArray() << 0 << noFault << 0 << 0 << 0
        << QStringList{kFileDialog} + panelWait() + panelBack +
               QStringList{kErrorBox + refusal(panel), kWaitOver}
        << SequenceEnd::FileRefusedInBootloader << 2 << true << 0 << 2 << 2 << 2;
    // The third read-back is page 65's; byte 5 comes back with bit 6 flipped.
    QTest::newRow("panel: read-back differs")
        << panel << Choice::Good << QByteArray("Rr") << 2 << FaultKind::CorruptReadBack << 5 << 0
        << 0
        << QStringList{kFileDialog} + panelWait() + panelWalk + panelBack +
               QStringList{kErrorBox + mismatch(0x1045, (*panelImage)[0x1045],
                                                (*panelImage)[0x1045] ^ 0x40),
                           kWaitOver}
        << SequenceEnd::FailedWhileWriting << 16 << true << 4 << 2 << 2 << 2;
    // Nothing was written yet: the firmware is as it was.
    QTest::newRow("panel: programming not started")
        << panel << Choice::Good << QByteArray("Cc") << 0 << FaultKind::WrongEcho << 0 << 0 << 0
        << QStringList{kFileDialog} + panelWait() + panelBack +
               QStringList{kErrorBox + "USB communication error", kWaitOver}
        << SequenceEnd::DeviceNotAnswering << 3 << true << 0 << 2 << 2 << 2;
    QTest::newRow("panel: exit not echoed")
        << panel << Choice::Good << QByteArray("bB") << 0 << FaultKind::WrongEcho << 0 << 0 << 0
        << QStringList{kFileDialog} + panelWait() + panelWalk +
               QStringList{"box: The ControlPanel firmware has been updated", kWaitOver}
        << SequenceEnd::NotBackInApplication << -1 << true << 4 << 2 << 2 << 2;
    QTest::newRow("board: bootloader not started")
        << board << Choice::Good << QByteArray() << 0 << noFault << 0 << 0 << 10000
        << boardStart + QStringList{kWaitOver, kStartErrorBox} << SequenceEnd::DeviceNotAnswering
        << 3 << false << 0 << 1 << 1 << 1;
    QTest::newRow("board: start not echoed")
        << board << Choice::Good << QByteArray("Cc") << 0 << FaultKind::WrongEcho << 0 << 0 << 0
        << boardStart + QStringList{kWaitOver, kStartErrorBox} << SequenceEnd::DeviceNotAnswering
        << 3 << false << 0 << 1 << 1 << 1;
    QTest::newRow("board: start's second byte wrong")
        << board << Choice::Good << QByteArray("Cc") << 0 << FaultKind::WrongSecondByte << 0 << 0
        << 0 << boardStart + QStringList{kWaitOver, kStartErrorBox}
        << SequenceEnd::DeviceNotAnswering << 3 << false << 0 << 1 << 1 << 1;
    QTest::newRow("board: file refused")
        << board << Choice::Refused << QByteArray() << 0 << noFault << 0 << 0 << 0
        << boardStart + QStringList{kErrorBox + refusal(board), kWaitOver}
        << SequenceEnd::FileRefusedInBootloader << 3 << false << 0 << 1 << 1 << 1;
    // The second page's write command goes nowhere.
    QTest::newRow("board: write fails")
        << board << Choice::Good << QByteArray("Mm") << 1 << FaultKind::FailedWrite << 0 << 0 << 0
        << boardStart + boardWalk +
               QStringList{kErrorBox + "USB communication error during programming", kWaitOver}
        << SequenceEnd::FailedWhileWriting << 9 << false << 1 << 1 << 1 << 1;
    // The second read-back is page 2's first half; byte 7 comes back with bit 6 flipped.
    QTest::newRow("board: read-back differs")
        << board << Choice::Good << QByteArray("Nn") << 1 << FaultKind::CorruptReadBack << 7 << 0
        << 0
        << boardStart + boardWalk +
               QStringList{kErrorBox +
                               mismatch(0x107, (*boardImage)[0x107], (*boardImage)[0x107] ^ 0x40),
                           kWaitOver}
        << SequenceEnd::FailedWhileWriting << 19 << false << 3 << 1 << 1 << 1;
}

// Every way a sequence ends once the device was told to start its bootloader: the channel is
// closed and the file released whatever happened, and only the result speaks of a result.
void UpdateSequenceTest::failuresAfterTheWait()
{
    QFETCH(Target, target);
    QFETCH(Choice, choice);
    QFETCH(QByteArray, fault);
    QFETCH(int, occurrence);
    QFETCH(FaultKind, kind);
    QFETCH(int, faultByte);
    QFETCH(int, restartMs);
    QFETCH(int, boardEntryMs);
    QFETCH(QStringList, shown);
    QFETCH(SequenceEnd, end);
    QFETCH(int, reports);
    QFETCH(bool, exitSent);
    QFETCH(int, pagesWritten);
    QFETCH(int, opens);
    QFETCH(int, closes);
    QFETCH(int, exits);

    const QByteArray text =
        choice == Choice::Refused ? refusedFile(target) : hexFile(blocksFor(target));
    const QString path = writeHex(QStringLiteral("update.hex"), text);
    QVERIFY(!path.isEmpty());
    FileUse use(path);
    QVERIFY(use.isValid());
    devices().setRestartTime(milliseconds(restartMs));
    devices().setBoardEntryTime(milliseconds(boardEntryMs));
    if (!fault.isEmpty())
        devices().injectFault(FaultTrigger::onCommand(fault[0], fault[1], occurrence),
                              Fault{kind, faultByte, 0x40});

    Bench bench;
    RecordingHost host;
    host.files = QStringList{path};
    host.watched = QFile::encodeName(path);
    const UpdateOutcome outcome = bench.run(target, host);

    QCOMPARE(lines(host.calls), lines(shown));
    QCOMPARE(endName(outcome.end), endName(end));
    checkCommon(host, outcome);
    QCOMPARE(outcome.file, path);
    QCOMPARE(describe(bench.sent()), describe(expectedTraffic(target, reports, exitSent)));
    QCOMPARE(bench.opens(), opens);
    QCOMPARE(bench.closes(), closes);
    QCOMPARE(bench.exits(), exits);
    QCOMPARE(devices().openHandles(), 0);
    QCOMPARE(profileText(bench.profile), profileOf(target));
    // When the bootloader never started, the file is let go before the wait ends.
    QCOMPARE(host.held, heldAt(host.calls, true, shown.endsWith(kStartErrorBox) ? 2 : 0));
    QCOMPARE(descriptorsOn(QFile::encodeName(path)), 0);
    QCOMPARE(use.events(), QStringList({"open", "close"}));
    QCOMPARE(flashDifference(target, pagesWritten), QString());
}

void UpdateSequenceTest::connectionProblems_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<int>("panels");
    QTest::addColumn<sim::PanelAccess>("access"); // of the first ControlPanel
    QTest::addColumn<bool>("secondDuringRestart");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<SequenceEnd>("end");
    QTest::addColumn<int>("reports");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("closes");
    QTest::addColumn<int>("exits");

    const Target panel = &kControlPanelTarget;
    const Target board = &kControlBoardTarget;
    const sim::PanelAccess open = sim::PanelAccess::Open;
    const QString several =
        QStringLiteral("connection error: More than one ControlPanel is "
                       "connected / Connect only the ControlPanel to update / ");
    const QString attached = QStringLiteral("/dev/hidraw-sim0 (ZEL ControlPanel), serial number "
                                            "CP1000: ");

    // hidapi would open whichever enumerates first, which may not be the one meant: nothing is
    // opened, nothing sent.
    QTest::newRow("panel: two attached") << panel << 2 << open << false << QStringList{several}
                                         << SequenceEnd::NoControlPanel << 0 << 0 << 0 << 1;
    QTest::newRow("board: two attached") << board << 2 << open << false << QStringList{several}
                                         << SequenceEnd::NoControlPanel << 0 << 0 << 0 << 1;
    // Another ControlPanel plugged in during the restart is not taken: the one that left is
    // opened again at its port and updated.
    QTest::newRow("panel: second during restart")
        << panel << 1 << open << true << successTimeline(panel) << SequenceEnd::Updated << -1 << 2
        << 2 << 2;
    // The open fails, and so does the survey's: the detail says which one and what to do.
    QTest::newRow("panel: not permitted")
        << panel << 1 << sim::PanelAccess::NoPermission << false
        << QStringList{kNoDevice + attached +
                       "this user may not open it.\nThe udev rule 70-zelupdate-controlpanel.rules "
                       "is not installed or not loaded. Install the zelupdate package, or copy "
                       "the rule into /etc/udev/rules.d, then run:\n"
                       "  sudo udevadm control --reload\n"
                       "  sudo udevadm trigger --subsystem-match=hidraw\n"
                       "and plug the ControlPanel in again."}
        << SequenceEnd::NoControlPanel << 0 << 2 << 0 << 1;
    QTest::newRow("board: busy")
        << board << 1 << sim::PanelAccess::Busy << false
        << QStringList{kNoDevice + attached +
                       "another program holds it.\nClose the other program that uses the "
                       "ControlPanel (another zelUpdate, for example) and try again."}
        << SequenceEnd::NoControlPanel << 0 << 2 << 0 << 1;
}

// When the ControlPanel cannot be told apart or opened: the user learns why, nothing is written
// to any ControlPanel, and no handle is left.
void UpdateSequenceTest::connectionProblems()
{
    QFETCH(Target, target);
    QFETCH(int, panels);
    QFETCH(sim::PanelAccess, access);
    QFETCH(bool, secondDuringRestart);
    QFETCH(QStringList, shown);
    QFETCH(SequenceEnd, end);
    QFETCH(int, reports);
    QFETCH(int, opens);
    QFETCH(int, closes);
    QFETCH(int, exits);

    const QString path = writeHex(QStringLiteral("connect.hex"), hexFile(blocksFor(target)));
    QVERIFY(!path.isEmpty());
    devices().setDeviceCount(panels);
    devices().setPanelAccess(access);

    Bench bench;
    RecordingHost host;
    host.files = QStringList{path};
    if (secondDuringRestart) {
        host.onWaitStep = [](int value) {
            if (value == 1)
                devices().setDeviceCount(2);
        };
    }
    const UpdateOutcome outcome = bench.run(target, host);

    QCOMPARE(lines(host.calls), lines(shown));
    QCOMPARE(endName(outcome.end), endName(end));
    checkCommon(host, outcome);
    const bool updated = end == SequenceEnd::Updated;
    QCOMPARE(describe(bench.sent()), describe(expectedTraffic(target, reports, updated)));
    for (const sim::TrafficRecord &record : devices().traffic())
        QCOMPARE(record.device, 0);
    QCOMPARE(bench.opens(), opens);
    QCOMPARE(bench.closes(), closes);
    QCOMPARE(bench.exits(), exits);
    QCOMPARE(devices().openHandles(), 0);
    QCOMPARE(profileText(bench.profile), reports != 0 ? profileOf(target) : kNoProfile);
    for (int device = 0; device < std::max(panels, secondDuringRestart ? 2 : 0); ++device)
        QCOMPARE(flashDifference(devices().panelFlash(device).data(), sim::kPanelFlashSize,
                                 &kControlPanelTarget,
                                 updated && device == 0 ? int(pagesFor(target).size()) : 0),
                 QString());
}

void UpdateSequenceTest::fileKinds_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<FileKind>("kind");

    for (Target target : {&kControlPanelTarget, &kControlBoardTarget}) {
        const QByteArray name = isPanel(target) ? "panel: " : "board: ";
        QTest::newRow(name + "regular file") << target << FileKind::Regular;
        QTest::newRow(name + "pipe") << target << FileKind::Fifo;
        QTest::newRow(name + "pipe with a writer") << target << FileKind::FifoWithWriter;
        QTest::newRow(name + "folder") << target << FileKind::Folder;
        QTest::newRow(name + "/dev/null") << target << FileKind::DevNull;
        QTest::newRow(name + "missing") << target << FileKind::Missing;
    }
}

// Only a regular file is taken: whatever else is chosen is refused at once, before anything is
// read from it or sent after the connection check, and without waiting on it.
void UpdateSequenceTest::fileKinds()
{
    QFETCH(Target, target);
    QFETCH(FileKind, kind);

    const QByteArray text = hexFile(blocksFor(target));
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    QString path = QFileInfo(folder.path()).canonicalFilePath() + QStringLiteral("/kind.hex");
    int writer = -1;
    QFile regularFile(path);
    switch (kind) {
    case FileKind::Regular:
        QVERIFY(regularFile.open(QIODevice::WriteOnly));
        QCOMPARE(regularFile.write(text), qint64(text.size()));
        regularFile.close();
        break;
    case FileKind::Fifo:
    case FileKind::FifoWithWriter:
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        break;
    case FileKind::Folder:
        QVERIFY(QDir().mkpath(path));
        break;
    case FileKind::DevNull:
        path = QStringLiteral("/dev/null");
        break;
    case FileKind::Missing:
        break;
    }
    if (kind == FileKind::FifoWithWriter) {
        // Read and write: the open waits for no reader, and the text waits in the pipe.
        writer = ::open(QFile::encodeName(path).constData(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        QVERIFY(writer >= 0);
        QCOMPARE(::write(writer, text.constData(), std::size_t(text.size())), ssize_t(text.size()));
    }
    const QByteArray encoded = QFile::encodeName(path);
    const int heldBefore = descriptorsOn(encoded);

    Bench bench;
    RecordingHost host;
    host.files = QStringList{path};
    // A sequence that blocks on the file is ended by the signal's default action, failing the
    // test at once instead of hanging it.
    alarm(10);
    const UpdateOutcome outcome = bench.run(target, host);
    alarm(0);

    const bool regular = kind == FileKind::Regular;
    QCOMPARE(lines(host.calls),
             lines(regular ? successTimeline(target) : QStringList{kFileDialog, kNoFile}));
    QCOMPARE(endName(outcome.end),
             endName(regular ? SequenceEnd::Updated : SequenceEnd::FileRefused));
    checkCommon(host, outcome);
    QCOMPARE(outcome.file, path);
    QCOMPARE(describe(bench.sent()),
             describe(expectedTraffic(target, regular ? -1 : 1, regular && isPanel(target))));
    QCOMPARE(devices().openHandles(), regular ? 0 : 1);
    QCOMPARE(profileText(bench.profile), profileOf(target));
    QCOMPARE(descriptorsOn(encoded), heldBefore);
    QCOMPARE(flashDifference(target, regular ? int(pagesFor(target).size()) : 0), QString());
    if (writer >= 0) {
        // Nothing was read: the whole text still waits in the pipe.
        QByteArray left(text.size() + 1, '\0');
        QCOMPARE(::read(writer, left.data(), std::size_t(left.size())), ssize_t(text.size()));
        QCOMPARE(left.left(text.size()), text);
        ::close(writer);
    }
}

void UpdateSequenceTest::followedUnits_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<int>("units");      // ControlPanels attached, at ports 1-1, 1-2, ...
    QTest::addColumn<QString>("choice"); // "port:1-2", "serial:CP1001" or empty
    QTest::addColumn<QString>("situation");
    QTest::addColumn<SequenceEnd>("end");
    QTest::addColumn<int>("updated");     // the unit whose flash then holds the image; -1: none
    QTest::addColumn<QString>("message"); // the last message begins so

    const Target panel = &kControlPanelTarget;
    const Target board = &kControlBoardTarget;
    const QString done = QString::fromLatin1(kPanelUpdatedText);
    const QString none;
    QTest::newRow("panel: the only one")
        << panel << 1 << none << none << SequenceEnd::Updated << 0 << done;
    QTest::newRow("panel: several, none chosen")
        << panel << 2 << none << none << SequenceEnd::NoControlPanel << -1
        << QString(kSeveralPanelsText);
    QTest::newRow("panel: by port")
        << panel << 3 << "port:1-2" << none << SequenceEnd::Updated << 1 << done;
    QTest::newRow("board: by serial number")
        << board << 2 << "serial:CP1000" << none << SequenceEnd::Updated << 0
        << QString(kBoardUpdatedText);
    QTest::newRow("panel: unknown port")
        << panel << 2 << "port:1-9" << none << SequenceEnd::NoControlPanel << -1
        << QString(kNoPanelAtPortText).arg("1-9");
    QTest::newRow("panel: a serial number no unit has")
        << panel << 2 << "serial:CP9999" << none << SequenceEnd::NoControlPanel << -1
        << QString(kNoPanelWithSerialText).arg("CP9999");
    // Two units alike: neither is taken, the first one enumerated least of all.
    QTest::newRow("panel: one serial number on two units")
        << panel << 2 << "serial:CP1000"
        << "same serial" << SequenceEnd::NoControlPanel << -1 << QString(kSeveralPanelsText);
    // A prefix of a port or serial number is not a match.
    QTest::newRow("panel: port prefix")
        << panel << 1 << "port:1" << none << SequenceEnd::NoControlPanel << -1
        << QString(kNoPanelAtPortText).arg("1");
    QTest::newRow("panel: slow restart")
        << panel << 1 << none << "slow restart" << SequenceEnd::Updated << 0 << done;
    // Each wait its own time-out, and the seconds in its text are that wait's: 1 s to leave,
    // 2 s to come back.
    QTest::newRow("panel: never back")
        << panel << 1 << none << "never back" << SequenceEnd::DeviceNotAnswering << -1
        << QString(kNotBackInBootloaderText).arg("1-1").arg(2);
    QTest::newRow("panel: never leaves the bus")
        << panel << 1 << none << "stays on the bus" << SequenceEnd::DeviceNotAnswering << -1
        << QString(kNeverLeftText).arg("1-1").arg(1);
    // Written and verified, but not back in its application: each way its own text.
    QTest::newRow("panel: verified, never back")
        << panel << 1 << none << "never back from the second restart"
        << SequenceEnd::NotBackInApplication << 0 << QString(kNotBackText).arg("1-1").arg(2);
    QTest::newRow("panel: verified, never leaves its bootloader")
        << panel << 1 << none << "stays on the bus from the second restart"
        << SequenceEnd::NotBackInApplication << 0
        << QString(kNotLeftForApplicationText).arg("1-1").arg(1);
    QTest::newRow("panel: verified, back but silent")
        << panel << 1 << none << "silent from the second restart"
        << SequenceEnd::NotBackInApplication << 0 << QString(kBackButSilentText).arg("1-1");
    // Followed by its port, a unit whose port is unknown would be lost after its restart: it is
    // refused before anything is sent. The board does not restart, and the window opens the
    // ControlPanel again by its ids.
    QTest::newRow("panel: port unknown")
        << panel << 1 << none << "port unknown" << SequenceEnd::NoControlPanel << -1
        << QString(kPortUnknownText)
               .arg(QString::fromStdString(sim::SimulatedDevices::panelPath(0)));
    QTest::newRow("board: port unknown") << board << 1 << none << "port unknown"
                                         << SequenceEnd::Updated << 0 << QString(kBoardUpdatedText);
    QTest::newRow("panel: window, port unknown")
        << panel << 1 << none << "window, port unknown" << SequenceEnd::Updated << 0 << done;
    QTest::newRow("panel: back later than it could leave")
        << panel << 1 << none << "back after 1.5 s" << SequenceEnd::Updated << 0 << done;
    QTest::newRow("panel: another unit plugged in at another port")
        << panel << 1 << none << "second during restart" << SequenceEnd::Updated << 0 << done;
    // The window keeps its handle after a click that chose no file; the unit unplugged and
    // plugged in again meanwhile is opened afresh, not failed on.
    QTest::newRow("board: held handle, unit power-cycled")
        << board << 1 << none << "power-cycled while held" << SequenceEnd::Updated << 0
        << QString(kBoardUpdatedText);
    QTest::newRow("panel: held by another program")
        << panel << 2 << "port:1-2"
        << "locked" << SequenceEnd::NoControlPanel << -1
        << QString(kUnitBusyDetail)
               .arg(QStringLiteral("1-2"), QStringLiteral("zelupdate-cli"))
               .arg(QCoreApplication::applicationPid());
    QTest::newRow("panel: in its bootloader")
        << panel << 1 << none << "in bootloader" << SequenceEnd::Updated << 0 << done;
    QTest::newRow("board: in its bootloader")
        << board << 1 << none << "in bootloader" << SequenceEnd::Updated << 0
        << QString(kBoardUpdatedText);
    QTest::newRow("board: left in its bootloader, updated without the flag")
        << board << 1 << none << "left in bootloader" << SequenceEnd::DeviceNotAnswering << -1
        << QString(kNoConnectionError);
    // The lock file of an update that died while writing says so at the next one.
    QTest::newRow("board: left in its bootloader by an update that died")
        << board << 1 << none << "died while writing" << SequenceEnd::DeviceNotAnswering << -1
        << QString(kNoConnectionError) + '$';
    // Only a mark past the entry tells of a bootloader, and only the command line can update a
    // unit in one: the window is never told to.
    QTest::newRow("board: a mark left while connecting")
        << board << 1 << none << "died while connecting" << SequenceEnd::DeviceNotAnswering << -1
        << QString(kNoConnectionError) + '$';
    QTest::newRow("board: window, left by an update that died")
        << board << 1 << none << "window, died while writing" << SequenceEnd::DeviceNotAnswering
        << -1 << QString(kNoConnectionError) + '$';
    // Written and verified, not back: the mark is this update's, not the earlier one put back.
    QTest::newRow("panel: exit not echoed after an update that died")
        << panel << 1 << none << "died, then exit not echoed" << SequenceEnd::NotBackInApplication
        << 0 << QString(kExitNotConfirmedText).arg("1-1");
    // --in-bootloader, and the target's bootloader takes no page: what else the unit may run.
    QTest::newRow("board: in its bootloader, but the ControlPanel in its own")
        << board << 1 << none << "panel in bootloader" << SequenceEnd::FailedWhileWriting << -1
        << QString(kErrorPrefix) + kProgrammingError + '\n' +
               QString(kNoBoardBootloaderText).arg("1-1");
    QTest::newRow("panel: in its bootloader, but its board in its own")
        << panel << 1 << none << "board in bootloader" << SequenceEnd::FailedWhileWriting << -1
        << QString(kErrorPrefix) + kProgrammingError + '\n' +
               QString(kNoPanelBootloaderText).arg("1-1");
    QTest::newRow("panel: in its bootloader, but in its application")
        << panel << 1 << none << "in application" << SequenceEnd::DeviceNotAnswering << -1
        << QString(kErrorPrefix) + kUsbError + '\n' + QString(kNoPanelBootloaderText).arg("1-1");
}

// The command line's way: the unit chosen by its port or serial number, locked, and followed
// through its restarts instead of waited for.
void UpdateSequenceTest::followedUnits()
{
    QFETCH(Target, target);
    QFETCH(int, units);
    QFETCH(QString, choice);
    QFETCH(QString, situation);
    QFETCH(SequenceEnd, end);
    QFETCH(int, updated);
    QFETCH(QString, message);

    const QString path = writeHex(QStringLiteral("followed.hex"), hexFile(blocksFor(target)));
    devices().setDeviceCount(units);
    Bench bench;
    bench.options.restarts = std::make_shared<FollowAtPort>(RestartTimeouts{1000, 2000});
    if (choice.startsWith(QLatin1String("port:")))
        bench.options.unit.port = choice.mid(5);
    if (choice.startsWith(QLatin1String("serial:")))
        bench.options.unit.serial = choice.mid(7);
    RecordingHost host;
    host.files = QStringList{path};
    UnitLock other;
    if (situation == QLatin1String("slow restart"))
        devices().setRestartTime(std::chrono::milliseconds(300));
    if (situation == QLatin1String("never back"))
        devices().setRestartQuirk(sim::RestartQuirk::NeverReturns);
    if (situation.endsWith(QLatin1String("from the second restart"))) {
        const sim::RestartQuirk quirk =
            situation.startsWith(QLatin1String("never back")) ? sim::RestartQuirk::NeverReturns
            : situation.startsWith(QLatin1String("stays"))    ? sim::RestartQuirk::StaysOnBus
                                                              : sim::RestartQuirk::ReturnsSilent;
        devices().setRestartQuirk(quirk, 0, 1);
    }
    if (situation.endsWith(QLatin1String("port unknown")))
        devices().setPortKnown(false);
    if (situation == QLatin1String("same serial")) {
        devices().detachUnit("1-2");
        devices().attachUnit("1-2", "CP1000");
    }
    if (situation == QLatin1String("stays on the bus"))
        devices().setRestartQuirk(sim::RestartQuirk::StaysOnBus);
    if (situation == QLatin1String("back after 1.5 s"))
        devices().setRestartTime(std::chrono::milliseconds(1500));
    if (situation == QLatin1String("second during restart")) {
        devices().setRestartTime(std::chrono::milliseconds(200));
        devices().setDeviceCount(units);
        host.onPause = [] { devices().setDeviceCount(2); };
    }
    if (situation == QLatin1String("locked"))
        QCOMPARE(other.take(QStringLiteral("1-2"), QStringLiteral("zelupdate-cli"),
                            QStringLiteral("panel")),
                 UnitLock::Outcome::Taken);
    const bool died = situation.contains(QLatin1String("died"));
    if (died) {
        // An update that died: its mark stays unfinished at the phase it had reached.
        UnitLock earlier;
        QCOMPARE(
            earlier.take(QStringLiteral("1-1"), QStringLiteral("died"), QStringLiteral("board")),
            UnitLock::Outcome::Taken);
        earlier.note(situation.contains(QLatin1String("connecting")) ? QStringLiteral("connecting")
                                                                     : QStringLiteral("writing"));
        earlier.releaseUnfinished();
        bool held = true;
        const std::optional<UnitMark> left = UnitLock::read(QStringLiteral("1-1"), held);
        QVERIFY(left && !held);
        if (message.contains(QLatin1String("%1")))
            message = message.arg(left->started.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    }
    if (situation.startsWith(QLatin1String("window")))
        bench.options.restarts = std::make_shared<FixedWaits>();
    if (situation == QLatin1String("died, then exit not echoed"))
        devices().injectFault(FaultTrigger::onCommand('b', 'B'), {FaultKind::WrongEcho});
    const bool elsewhere = situation == QLatin1String("panel in bootloader") ||
                           situation == QLatin1String("board in bootloader") ||
                           situation == QLatin1String("in application");
    if (situation == QLatin1String("panel in bootloader"))
        devices().setPanelState(sim::PanelState::Bootloader);
    if (situation == QLatin1String("board in bootloader"))
        devices().enterBoardBootloader();
    bench.options.inBootloader = elsewhere;
    if (situation == QLatin1String("in bootloader") ||
        situation == QLatin1String("left in bootloader") ||
        (died && situation.contains(QLatin1String("while")))) {
        if (isPanel(target))
            devices().setPanelState(sim::PanelState::Bootloader);
        else
            devices().enterBoardBootloader();
        bench.options.inBootloader = situation == QLatin1String("in bootloader");
    }

    if (situation == QLatin1String("power-cycled while held")) {
        bench.options.restarts = std::make_shared<FixedWaits>();
        RecordingHost cancelled;
        QCOMPARE(endName(bench.run(target, cancelled).end), endName(SequenceEnd::NoFileChosen));
        QVERIFY(bench.channel.isOpen());
        devices().detachUnit("1-1");
        devices().attachUnit("1-1", "CP1000");
    }

    const UpdateOutcome outcome = bench.run(target, host);
    QCOMPARE(endName(outcome.end), endName(end));
    // A message ending in '$' is the whole text.
    if (message.endsWith(QLatin1Char('$')))
        QCOMPARE(outcome.text, message.chopped(1));
    else
        QVERIFY2(outcome.text.startsWith(message), qPrintable(outcome.text));
    // The outcome tells of an earlier update that got past its entry, and only of one.
    QCOMPARE(outcome.unfinished.has_value(),
             died && !situation.contains(QLatin1String("connecting")));
    if (died) {
        bool held = true;
        const std::optional<UnitMark> mark = UnitLock::read(QStringLiteral("1-1"), held);
        QVERIFY(mark);
        // The earlier update's mark, kept while nothing was sent; else this update's own.
        QCOMPARE(mark->program == QLatin1String("died"),
                 outcome.end == SequenceEnd::DeviceNotAnswering);
    }
    if (end == SequenceEnd::NoControlPanel)
        QCOMPARE(bench.sent().size(), std::size_t(0));
    for (int unit = 0; unit < units; ++unit) {
        const int written = unit == updated ? int(pagesFor(target).size()) : 0;
        const QString difference = isPanel(target)
                                       ? flashDifference(devices().panelFlash(unit).data(),
                                                         sim::kPanelFlashSize, target, written)
                                       : flashDifference(devices().boardFlash(unit).data(),
                                                         sim::kBoardFlashSize, target, written);
        QCOMPARE(difference, QString());
    }
    if (end == SequenceEnd::Updated) {
        const bool known = !situation.endsWith(QLatin1String("port unknown"));
        QCOMPARE(outcome.port, known ? QStringLiteral("1-%1").arg(updated + 1) : QString());
        QCOMPARE(outcome.serial, QStringLiteral("CP%1").arg(1000 + updated));
        QCOMPARE(devices().panelState(updated), sim::PanelState::Application);
    }
    // A unit that did not answer its connection check stays open for the next try.
    QCOMPARE(devices().openHandles(), outcome.text.startsWith(kNoConnectionError) ? 1 : 0);
}

void UpdateSequenceTest::historyLine_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<Choice>("choice");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("field"); // the name as the history writes it
    QTest::addColumn<QString>("sha256");
    QTest::addColumn<int>("usedPages");
    QTest::addColumn<QString>("result"); // as the history writes it
    QTest::addColumn<QString>("serial"); // the unit's, as the history writes it

    const Target panel = &kControlPanelTarget;
    const Target board = &kControlBoardTarget;
    const QString name = QStringLiteral("history.hex");
    const QString cp = QStringLiteral("CP1000");

    const QString panelDone = QStringLiteral("The ControlPanel firmware has been updated");
    const QString boardDone = QStringLiteral("The ZEL02 firmware has been updated");
    const QString none = QStringLiteral("-");

    QTest::newRow("panel, updated")
        << panel << Choice::Good << name << name << imageHash(panel) << 4 << panelDone << cp;
    QTest::newRow("board, updated")
        << board << Choice::Good << name << name << imageHash(board) << 3 << boardDone << cp;
    // A tab in the name would start another field.
    QTest::newRow("board, tab in the name")
        << board << Choice::Good << QStringLiteral("tab\there.hex")
        << QStringLiteral("tab\\there.hex") << imageHash(board) << 3 << boardDone << cp;
    QTest::newRow("board, refused")
        << board << Choice::Refused << name << name << none << 0
        << QStringLiteral("An error occured during firmware update\\nMemory address limit of "
                          "32256 bytes exceeded")
        << cp;
    QTest::newRow("panel, file gone") << panel << Choice::Removed << name << name << none << 0
                                      << QStringLiteral("Error: Can't open hex file") << cp;
    QTest::newRow("panel, none chosen")
        << panel << Choice::Cancel << name << name << QString() << 0 << QString() << cp;
    // A serial number from the device with a tab and a C1 control, which some terminals obey.
    QTest::newRow("board, a serial number a terminal would obey")
        << board << Choice::Good << name << name << imageHash(board) << 3 << boardDone
        << QStringLiteral("CP\\t10\\x9b0");
}

// Every sequence that got a file adds one line to the history, tab-separated under a header:
// when, from which front end, which target and file, which firmware, how it ended, and which unit.
void UpdateSequenceTest::historyLine()
{
    QFETCH(Target, target);
    QFETCH(Choice, choice);
    QFETCH(QString, name);
    QFETCH(QString, field);
    QFETCH(QString, sha256);
    QFETCH(int, usedPages);
    QFETCH(QString, result);
    QFETCH(QString, serial);

    if (serial != QLatin1String("CP1000")) {
        devices().detachUnit("1-1");
        // The stand-in makes each byte of it one character: 0x9b is U+009B.
        devices().attachUnit("1-1", "CP\t10\x9b"
                                    "0");
    }
    const QString path = writeHex(name, choice == Choice::Refused ? refusedFile(target)
                                                                  : hexFile(blocksFor(target)));
    QVERIFY(!path.isEmpty());
    Bench bench;
    RecordingHost host;
    if (choice != Choice::Cancel)
        host.files = QStringList{path};
    if (choice == Choice::Removed)
        host.onChosen = [](const QString &chosen) { QFile::remove(chosen); };
    const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
    const UpdateOutcome outcome = bench.run(target, host);
    const QDateTime after = QDateTime::currentDateTime().addSecs(1);

    const QList<QStringList> rows = historyLines();
    if (choice == Choice::Cancel) {
        QVERIFY(rows.isEmpty());
        QVERIFY(!QFileInfo::exists(historyPath()));
        return;
    }
    QCOMPARE(rows.size(), 2);
    QCOMPARE(
        rows[0].join(QLatin1Char('|')),
        QStringLiteral("time|front end|target|file|sha256|used pages|seconds|result|port|serial"));
    const QStringList &fields = rows[1];
    QCOMPARE(fields.size(), 10);
    const QDateTime time = QDateTime::fromString(fields[0], Qt::ISODate);
    QVERIFY2(time >= before && time <= after, qPrintable(fields[0]));
    QCOMPARE(fields[1], host.frontEnd());
    QCOMPARE(fields[2], QString::fromLatin1(target->name));
    QCOMPARE(fields[3], QFileInfo(path).path() + QLatin1Char('/') + field);
    QCOMPARE(fields[4], sha256);
    QCOMPARE(fields[5], QString::number(usedPages));
    QVERIFY2(QRegularExpression(QStringLiteral("^\\d+\\.\\d$")).match(fields[6]).hasMatch(),
             qPrintable(fields[6]));
    QCOMPARE(fields[7], result);
    // The unit, whichever front end updated it.
    QCOMPARE(fields.mid(8), (QStringList{"1-1", serial}));
    QCOMPARE(outcome.file, path);
}

void UpdateSequenceTest::historyNotWritten_data()
{
    QTest::addColumn<Target>("target");

    QTest::newRow("panel") << Target(&kControlPanelTarget);
    QTest::newRow("board") << Target(&kControlBoardTarget);
}

// A history that cannot be written is reported to the host, and the update is done all the same.
void UpdateSequenceTest::historyNotWritten()
{
    QFETCH(Target, target);

    const QString path = writeHex(QStringLiteral("nohistory.hex"), hexFile(blocksFor(target)));
    QVERIFY(!path.isEmpty());
    // No folder can be made below a regular file.
    const QString blocker = writeHex(QStringLiteral("a-file"), QByteArray("x"));
    QVERIFY(!blocker.isEmpty());
    const QByteArray saved = qgetenv("XDG_STATE_HOME");
    qputenv("XDG_STATE_HOME", QFile::encodeName(blocker + QStringLiteral("/state")));

    Bench bench;
    RecordingHost host;
    host.files = QStringList{path};
    const UpdateOutcome outcome = bench.run(target, host);
    qputenv("XDG_STATE_HOME", saved);

    const QStringList timeline = successTimeline(target);
    QCOMPARE(lines(host.calls.mid(0, timeline.size())), lines(timeline));
    QCOMPARE(host.calls.size(), timeline.size() + 1);
    QVERIFY2(host.calls.last().startsWith(QStringLiteral("history not written: ")) &&
                 host.calls.last().contains(blocker + QStringLiteral("/state/zelUpdate")),
             qPrintable(host.calls.last()));
    QCOMPARE(endName(outcome.end), endName(SequenceEnd::Updated));
    QCOMPARE(describe(bench.sent()), describe(expectedTraffic(target, -1, isPanel(target))));
    QCOMPARE(flashDifference(target, int(pagesFor(target).size())), QString());
    QVERIFY(QFileInfo(blocker).isFile());
    QVERIFY(!QFileInfo::exists(historyPath()));
}

// Programs that finish at once write the history in turn: a new file gets one header, whoever
// writes first.
void UpdateSequenceTest::historyWritersTakeTurns()
{
    QVERIFY(QDir().mkpath(QFileInfo(historyPath()).path()));
    const QByteArray path = QFile::encodeName(historyPath());
    const int other = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT, 0644);
    QVERIFY(other >= 0);
    QCOMPARE(::flock(other, LOCK_EX), 0);

    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.result = QStringLiteral("second");
    QString why = QStringLiteral("not run");
    std::unique_ptr<QThread> writer(QThread::create([&] { why = appendHistory(entry); }));
    writer->start();
    // Time for a writer that does not wait its turn to find the file empty.
    QVERIFY(!writer->wait(300));
    const QByteArray first = QByteArray(kHistoryHeader) + "\n" + "first\n";
    QCOMPARE(::write(other, first.constData(), std::size_t(first.size())), ssize_t(first.size()));
    ::close(other);
    QVERIFY(writer->wait(5000));

    QCOMPARE(why, QString());
    const QList<QStringList> rows = historyLines();
    QCOMPARE(rows.size(), 3);
    QCOMPARE(rows[1].value(0), QStringLiteral("first"));
    QCOMPARE(rows[2].value(7), QStringLiteral("second"));
}

QTEST_GUILESS_MAIN(UpdateSequenceTest)
#include "tst_updatesequence.moc"
