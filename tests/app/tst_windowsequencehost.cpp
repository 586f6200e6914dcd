// Both update sequences as the user meets them: the window's own buttons clicked, the file dialog
// and the message boxes answered as they come up, the simulated ControlPanel and control board at
// the other end of the cable. Every case checks what a click leaves behind and what it showed on
// the way: the dialogs in the order they came, the reports written, the hidapi calls, the HEX
// file's use, the flash and the handles the devices see held. One whole update waits the program's
// own three seconds, ten steps of 300 ms, for a ControlPanel that takes its time to restart; the
// others hand the window a pause that only counts the steps, with devices that restart at once.
// The cases are few: one whole update per target, a user who tries to interrupt one, and early
// ends. Every other way a sequence ends is tested without a window
// (tests/update/tst_updatesequence.cpp).

#include "FileUse.h"
#include "MainWin.h"
#include "ModalAnswerer.h"
#include "OpenWindows.h"
#include "ProgressWatcher.h"
#include "RecordedUnit.h"
#include "SequenceFlash.h"
#include "SequenceScenario.h"
#include "TestDevices.h"
#include "UnitLock.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#include <chrono>

using std::chrono::milliseconds;

namespace {

const QString kFileDialog = QStringLiteral("file dialog");
const QString kPanelWait = QStringLiteral("progress: Wait...");
const QString kBoardWait = QStringLiteral("progress: Wait for zel02 bootloader...");
const QString kWriting = QStringLiteral("progress: Writing...");

QString buttonText(Target target)
{
    return isPanel(target) ? QStringLiteral("Uppdatera Kontrollpanelens Program")
                           : QStringLiteral("Uppdatera Styrkortets Program");
}

// What a whole successful update shows after the file dialog.
QStringList successTimeline(Target target)
{
    if (isPanel(target))
        return {kFileDialog, kPanelWait, kWriting, kPanelWait,
                "box [] The ControlPanel firmware has been updated"};
    return {kFileDialog, kBoardWait, kWriting, "box [] The ZEL02 firmware has been updated"};
}

QString describeDialog(const ModalAnswerer::Dialog &dialog)
{
    if (dialog.className == QLatin1String("QFileDialog"))
        return kFileDialog;
    if (dialog.className != QLatin1String("QMessageBox"))
        return dialog.className + QStringLiteral(": ") + dialog.title;
    QString kind = QStringLiteral("icon %1").arg(int(dialog.icon));
    if (dialog.icon == QMessageBox::NoIcon)
        kind = QStringLiteral("box");
    else if (dialog.icon == QMessageBox::Critical)
        kind = QStringLiteral("critical");
    QString text = QStringLiteral("%1 [%2] %3").arg(kind, dialog.title, dialog.text);
    if (!dialog.informativeText.isEmpty())
        text += QStringLiteral(" / ") + dialog.informativeText;
    if (!dialog.detailedText.isEmpty())
        text += QStringLiteral(" / details: ") + dialog.detailedText;
    return text;
}

// Each step of the window's waits, as asked for, without the sleep.
class CountedSteps : public Pause
{
public:
    void pause(int milliseconds) override { steps << milliseconds; }

    QList<int> steps;
};

// The steps a whole update's waits take: ten of 300 ms after each restart command.
QList<int> waitSteps(Target target)
{
    QList<int> steps;
    for (int step = 0; step < (isPanel(target) ? 20 : 10); ++step)
        steps << 300;
    return steps;
}

// Counts the times a window is raised: QWidget::raise() sends it a ZOrderChange.
class RaiseCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::ZOrderChange;
        return false;
    }
};

// The window with everything that watches it: the dialogs answered in the order they come, the
// progress dialogs as they appear, and at each of those moments how many descriptors the process
// holds on the HEX file and how often the window was raised. click() runs one whole sequence and
// notes where the devices' counts stood before it.
class Bench
{
public:
    Bench()
    {
        window.installEventFilter(&raises);
        answerer.onSeen = [this](const ModalAnswerer::Dialog &dialog) {
            note(describeDialog(dialog));
        };
        watcher.onShow = [this](QProgressDialog *dialog) {
            note(QStringLiteral("progress: ") + dialog->labelText());
        };
    }

    bool show()
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }

    void watchFile(const QString &path)
    {
        hexPath = QFile::encodeName(QFileInfo(path).canonicalFilePath());
    }

    // Clicks the target's button; the file dialog, if it comes, gets `choice`: a path to choose,
    // or empty to cancel. The whole sequence has run when this returns.
    bool click(Target target, const QString &choice)
    {
        QPushButton *button = nullptr;
        const auto buttons = window.findChildren<QPushButton *>();
        for (QPushButton *candidate : buttons) {
            if (candidate->text() == buttonText(target))
                button = candidate;
        }
        if (!button)
            return false;
        answerer.chooseFiles({choice});
        timeline.clear();
        descriptors.clear();
        raisesSoFar.clear();
        raises.count = 0;
        tally.mark();
        QTest::mouseClick(button, Qt::LeftButton);
        return true;
    }

    int opens() const { return tally.opens(); }
    int closes() const { return tally.closes(); }
    int exits() const { return tally.exits(); }
    Reports sent() const { return tally.sent(); }
    int descriptorsNow() const { return descriptorsOn(hexPath); }

    MainWin window;
    ModalAnswerer answerer;
    ProgressWatcher watcher;
    QStringList timeline;
    QVector<int> descriptors;
    QVector<int> raisesSoFar;

private:
    void note(const QString &entry)
    {
        timeline << entry;
        descriptors << descriptorsOn(hexPath);
        raisesSoFar << raises.count;
    }

    RaiseCounter raises;

    QByteArray hexPath;
    DeviceTally tally;
};

// Nothing held before the file dialog; the file held from then on when the sequence opened it.
QVector<int> expectedDescriptors(int entries, bool fileOpened)
{
    QVector<int> counts(entries, fileOpened ? 1 : 0);
    if (entries > 0)
        counts[0] = 0;
    return counts;
}

// The window is raised once, as the wait begins and before its dialog shows (the wait after the
// ControlPanel's bootloader exit shows the same dialog again): for each entry of the timeline, the
// raises up to and including it.
QVector<int> expectedRaises(const QStringList &timeline)
{
    QVector<int> counts;
    int raised = 0;
    for (const QString &entry : timeline) {
        if (entry == kPanelWait || entry == kBoardWait)
            raised = 1;
        counts << raised;
    }
    return counts;
}

// A list as one text, so that a failure shows both sides whole.
QString lines(const QStringList &list)
{
    return list.join(QStringLiteral(" | "));
}

QVector<int> stepValues(const ProgressWatcher::Appearance &appearance)
{
    QVector<int> values;
    for (const ProgressWatcher::Step &step : appearance.steps)
        values << step.value;
    return values;
}

QVector<int> oneTo(int last)
{
    QVector<int> values;
    for (int value = 1; value <= last; ++value)
        values << value;
    return values;
}

} // namespace

class WindowSequenceHostTest : public QObject
{
    Q_OBJECT

public:
    explicit WindowSequenceHostTest(const QString &home) : home(home) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void earlyEnds_data();
    void earlyEnds();
    void successfulUpdate_data();
    void successfulUpdate();
    void nothingInterruptsAnUpdate_data();
    void nothingInterruptsAnUpdate();
    void replaysRecordedUnit();

private:
    QString writeHex(const QString &name, const QByteArray &text);
    void checkDialogs(const Bench &bench, Target target);

    QString home;
};

void WindowSequenceHostTest::initTestCase()
{
    QVERIFY(QFileInfo(home).isDir());
    // The file dialog opens in the home folder, which is this test's own.
    QCOMPARE(QDir::homePath(), home);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home + "/settings");
}

void WindowSequenceHostTest::init()
{
    devices().reset();
}

void WindowSequenceHostTest::cleanup()
{
    const QStringList open = visibleTopLevelWindows();
    QVERIFY2(open.isEmpty(), qPrintable(open.join(QLatin1String(", "))));
    QVERIFY(!QApplication::activeModalWidget());
}

QString WindowSequenceHostTest::writeHex(const QString &name, const QByteArray &text)
{
    return writeHexFile(home, name, text);
}

// What every dialog of every sequence has in common, whatever it says.
void WindowSequenceHostTest::checkDialogs(const Bench &bench, Target target)
{
    for (int i = 0; i < bench.answerer.count(); ++i) {
        const ModalAnswerer::Dialog &dialog = bench.answerer.dialog(i);
        QCOMPARE(dialog.parent, &bench.window);
        QVERIFY(dialog.modality != Qt::NonModal);
        if (dialog.className == QLatin1String("QFileDialog")) {
            QCOMPARE(dialog.title, QStringLiteral("Open Hex File"));
            QCOMPARE(QFileInfo(dialog.directory).canonicalFilePath(),
                     QFileInfo(home).canonicalFilePath());
            QCOMPARE(dialog.nameFilters, QStringList{QStringLiteral("Hex files (*.hex)")});
            QCOMPARE(dialog.fileMode, QFileDialog::ExistingFile);
            QCOMPARE(dialog.acceptMode, QFileDialog::AcceptOpen);
        } else {
            QCOMPARE(dialog.className, QStringLiteral("QMessageBox"));
            QCOMPARE(dialog.standardButtons, QMessageBox::StandardButtons(QMessageBox::Ok));
            // A box with details adds its own button to show them.
            QCOMPARE(dialog.buttonCount, dialog.detailedText.isEmpty() ? 1 : 2);
        }
    }

    const int usedPages = int(pagesFor(target).size());
    for (const ProgressWatcher::Appearance &appearance : bench.watcher.appearances()) {
        QCOMPARE(appearance.parent, &bench.window);
        QCOMPARE(appearance.modality, Qt::ApplicationModal);
        QCOMPARE(appearance.minimum, 0);
        // The wait dialog is set up before it shows; the programming dialog loses its cancel
        // button and gets its minimum duration right after, before its first page.
        const bool waiting = appearance.label != QLatin1String("Writing...");
        if (waiting) {
            QCOMPARE(appearance.minimumDuration, 0);
            QVERIFY(!appearance.buttonShown);
        }
        for (const ProgressWatcher::Step &step : appearance.steps) {
            QVERIFY(!step.buttonShown);
            QVERIFY(step.visible);
            QCOMPARE(step.minimumDuration, 0);
        }
        if (!waiting) {
            QCOMPARE(appearance.maximum, 2 * usedPages);
        } else {
            QCOMPARE(appearance.maximum, 10);
            QCOMPARE(stepValues(appearance), oneTo(10));
        }
    }
    // However the sequence ended, its dialogs went with it.
    QCOMPARE(bench.watcher.alive(), 0);
    QVERIFY(bench.window.findChildren<QProgressDialog *>().isEmpty());
}

void WindowSequenceHostTest::earlyEnds_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<int>("panels");
    QTest::addColumn<bool>("pipe"); // a named pipe is chosen, which no one writes to
    // At the unit's lock path: "held" (the command line holds the lock), "fifo" (a named pipe).
    QTest::addColumn<QString>("lockPath");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("reports");
    QTest::addColumn<QStringList>("fileUse");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("closes");
    QTest::addColumn<int>("exits");
    QTest::addColumn<bool>("channelOpen");

    const QString noDevice = QStringLiteral(
        "box [] Can't open USB connection to ControlPanel / Connect a ControlPanel to this "
        "computer with a USB cable and then power up the ControlPanel");
    const QString noFile = QStringLiteral("critical [Error] Error: Can't open hex file");

    QTest::newRow("board: no device")
        << Target(&kControlBoardTarget) << 0 << false << "" << QStringList{noDevice} << 0
        << QStringList() << 1 << 0 << 1 << false;
    // A pipe would block the program for as long as no one writes to it: it is refused at once.
    QTest::newRow("panel: pipe chosen")
        << Target(&kControlPanelTarget) << 1 << true << "" << QStringList{kFileDialog, noFile} << 1
        << QStringList{"open", "close"} << 1 << 0 << 0 << true;
    // Refused before anything is sent, naming the port and the program.
    QTest::newRow("panel: updated by the command line")
        << Target(&kControlPanelTarget) << 1 << false << "held"
        << QStringList{QStringLiteral(
                           "box [] The ControlPanel is being updated by another program / Wait "
                           "until that update has ended, then try again / details: The "
                           "ControlPanel at USB port 1-1 is being updated by zelupdate-cli "
                           "(process %1)")
                           .arg(QCoreApplication::applicationPid())}
        << 0 << QStringList() << 1 << 1 << 1 << false;
    // A lock path that cannot be a lock: the same box, with the path and what to remove.
    QTest::newRow("board: a named pipe at the lock path")
        << Target(&kControlBoardTarget) << 1 << false << "fifo"
        << QStringList{QStringLiteral("box [] The ControlPanel is being updated by another program "
                                      "/ Wait until that update has ended, then try again / "
                                      "details: The lock file %1 cannot be used: it is a named "
                                      "pipe (FIFO). Remove it, then try again")
                           .arg(UnitLock::pathFor(QStringLiteral("1-1")))}
        << 0 << QStringList() << 1 << 1 << 1 << false;
}

// A click that ends before the wait, with the connection error's box or a critical message, then
// a second click, cancelled at the file dialog, once any other update has ended: it reuses a
// channel the first one left open and opens a new one otherwise.
void WindowSequenceHostTest::earlyEnds()
{
    QFETCH(Target, target);
    QFETCH(int, panels);
    QFETCH(bool, pipe);
    QFETCH(QString, lockPath);
    QFETCH(QStringList, shown);
    QFETCH(int, reports);
    QFETCH(QStringList, fileUse);
    QFETCH(int, opens);
    QFETCH(int, closes);
    QFETCH(int, exits);
    QFETCH(bool, channelOpen);

    QString path = writeHex(QStringLiteral("early.hex"), hexFile(blocksFor(target)));
    QVERIFY(!path.isEmpty());
    if (pipe) {
        QVERIFY(QFile::remove(path));
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    }
    FileUse use(path);
    QVERIFY(use.isValid());
    devices().setDeviceCount(panels);
    // Held in this process, the lock stands for a zelupdate-cli updating the unit.
    UnitLock commandLine;
    const QByteArray fifo = QFile::encodeName(UnitLock::pathFor(QStringLiteral("1-1")));
    // Never left for the next case, however this one ends.
    const auto removeFifo = qScopeGuard([&] {
        if (lockPath == QLatin1String("fifo"))
            QFile::remove(QFile::decodeName(fifo));
    });
    if (lockPath == QLatin1String("fifo")) {
        QFile::remove(QFile::decodeName(fifo)); // an earlier case's lock file
        QCOMPARE(mkfifo(fifo.constData(), 0600), 0);
    }
    if (lockPath == QLatin1String("held"))
        QCOMPARE(commandLine.take(QStringLiteral("1-1"), QStringLiteral("zelupdate-cli"),
                                  QStringLiteral("panel")),
                 UnitLock::Outcome::Taken);

    Bench bench;
    QVERIFY(bench.show());
    bench.watchFile(path);

    QVERIFY(bench.click(target, path));
    QCOMPARE(lines(bench.timeline), lines(shown));
    checkDialogs(bench, target);
    if (QTest::currentTestFailed())
        return;
    const Reports first = bench.sent();
    QCOMPARE(describe(first), describe(expectedTraffic(target, reports, false)));
    QCOMPARE(bench.opens(), opens);
    QCOMPARE(bench.closes(), closes);
    QCOMPARE(bench.exits(), exits);
    QCOMPARE(devices().openHandles(), channelOpen ? 1 : 0);
    QCOMPARE(bench.descriptors, expectedDescriptors(bench.timeline.size(), false));
    QCOMPARE(bench.descriptorsNow(), 0);
    QCOMPARE(use.events(), fileUse);
    QVERIFY(QFileInfo::exists(path));
    QCOMPARE(flashDifference(&kControlBoardTarget, 0), QString());
    if (panels > 0)
        QCOMPARE(flashDifference(&kControlPanelTarget, 0), QString());

    // The next click: the connection check first, over what the last report left.
    commandLine.release();
    if (lockPath == QLatin1String("fifo"))
        QVERIFY(QFile::remove(QFile::decodeName(fifo)));
    devices().setDeviceCount(1);
    QVERIFY(bench.click(target, QString()));
    QCOMPARE(lines(bench.timeline), lines(QStringList{kFileDialog}));
    QCOMPARE(describe(bench.sent()), describe(Reports{followedBy(first, 'E', 'e')}));
    QCOMPARE(bench.opens(), channelOpen ? 0 : 1);
    QCOMPARE(bench.closes(), 0);
    QCOMPARE(bench.exits(), 0);
    QCOMPARE(devices().openHandles(), 1);
    QCOMPARE(use.events(), fileUse);
    bench.window.close();
}

void WindowSequenceHostTest::successfulUpdate_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("closes");
    // The window sleeps its own waits, and the devices take their time like the real ones.
    QTest::addColumn<bool>("realTime");

    QTest::newRow("panel, name beyond Latin-1") << Target(&kControlPanelTarget) << 2 << 2 << true;
    QTest::newRow("board, name beyond Latin-1") << Target(&kControlBoardTarget) << 1 << 1 << false;
}

// A whole update of a file whose name the file dialog must hand over intact.
void WindowSequenceHostTest::successfulUpdate()
{
    QFETCH(Target, target);
    QFETCH(int, opens);
    QFETCH(int, closes);
    QFETCH(bool, realTime);

    // Built from code points so that a wrong source encoding cannot make both sides agree.
    const QString name = QLatin1String("H") + QChar(0x00E4) + QLatin1String("mtningar/fw_") +
                         QChar(0x03A9) + QLatin1String(".hex");
    const QString path = writeHex(name, hexFile(blocksFor(target)));
    QVERIFY(!path.isEmpty());
    QVERIFY2(QFile::decodeName(QFile::encodeName(path)) == path,
             "the file system's encoding cannot hold the name");
    FileUse use(path);
    QVERIFY(use.isValid());
    if (realTime) {
        devices().setRestartTime(milliseconds(1500));
        devices().setBoardEntryTime(milliseconds(500));
    }

    Bench bench;
    CountedSteps pause;
    if (!realTime)
        bench.window.setStepPause(pause);
    QVERIFY(bench.show());
    bench.watchFile(path);
    QVERIFY(bench.click(target, path));

    QCOMPARE(lines(bench.timeline), lines(successTimeline(target)));
    checkDialogs(bench, target);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(bench.answerer.dialog(bench.answerer.count() - 2).chosen, path);
    QCOMPARE(describe(bench.sent()), describe(expectedTraffic(target, -1, isPanel(target))));
    QCOMPARE(bench.opens(), opens);
    QCOMPARE(bench.closes(), closes);
    QCOMPARE(bench.exits(), closes);
    QCOMPARE(devices().openHandles(), 0);
    QCOMPARE(bench.descriptors, expectedDescriptors(bench.timeline.size(), true));
    QCOMPARE(bench.descriptorsNow(), 0);
    QCOMPARE(bench.raisesSoFar, expectedRaises(bench.timeline));
    QCOMPARE(use.events(), QStringList({"open", "close"}));
    QCOMPARE(flashDifference(target, int(pagesFor(target).size())), QString());
    // Both devices run their applications again.
    QCOMPARE(devices().panelState(), sim::PanelState::Application);
    QCOMPARE(devices().boardState(), sim::BoardState::Application);
    if (!realTime)
        QCOMPARE(pause.steps, waitSteps(target));
    bench.window.close();
}

void WindowSequenceHostTest::nothingInterruptsAnUpdate_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<QString>("during"); // the dialog the user turns on

    QTest::newRow("panel, Esc on Writing...")
        << &kControlPanelTarget << QStringLiteral("Writing...");
    QTest::newRow("board, Esc on the wait")
        << &kControlBoardTarget << QStringLiteral("Wait for zel02 bootloader...");
}

// A user who, in the middle of an update, presses Esc on its dialog, closes that dialog, clicks
// the other update button and closes the main window: the update goes on to its end under its
// dialog, nothing else starts, and its result is shown.
void WindowSequenceHostTest::nothingInterruptsAnUpdate()
{
    QFETCH(Target, target);
    QFETCH(QString, during);

    const QString path = writeHex(QStringLiteral("hostile.hex"), hexFile(blocksFor(target)));
    QVERIFY(!path.isEmpty());

    Bench bench;
    CountedSteps pause;
    bench.window.setStepPause(pause);
    QVERIFY(bench.show());
    const Target other = isPanel(target) ? &kControlBoardTarget : &kControlPanelTarget;
    QPushButton *otherButton = nullptr;
    const auto buttons = bench.window.findChildren<QPushButton *>();
    for (QPushButton *button : buttons) {
        if (button->text() == buttonText(other))
            otherButton = button;
    }
    QVERIFY(otherButton);

    bool tried = false;
    bool dialogStayed = false;
    bool windowStayed = false;
    int reportsBefore = -1;
    int answeredBefore = -1;
    // At the dialog's first step, as a user's input would arrive while its bar moves.
    bench.watcher.onShow = [&](QProgressDialog *dialog) {
        bench.timeline << QStringLiteral("progress: ") + dialog->labelText();
        if (dialog->labelText() != during || tried)
            return;
        auto *bar = dialog->findChild<QProgressBar *>();
        QObject::connect(bar, &QProgressBar::valueChanged, dialog, [&, dialog](int value) {
            if (value < 1 || tried)
                return;
            tried = true;
            reportsBefore = devices().reportCount();
            answeredBefore = bench.answerer.count();
            QTest::keyClick(dialog, Qt::Key_Escape);
            dialog->close();
            QTest::mouseClick(otherButton, Qt::LeftButton);
            bench.window.close();
            dialogStayed = dialog->isVisible();
            windowStayed = bench.window.isVisible();
            // Neither a file dialog nor a report came from the other button.
            QCOMPARE(devices().reportCount(), reportsBefore);
            QCOMPARE(bench.answerer.count(), answeredBefore);
        });
    };
    QVERIFY(bench.click(target, path));

    QVERIFY(tried);
    QVERIFY(dialogStayed);
    QVERIFY(windowStayed);
    QCOMPARE(lines(bench.timeline), lines(successTimeline(target)));
    QCOMPARE(describe(bench.sent()), describe(expectedTraffic(target, -1, isPanel(target))));
    QCOMPARE(flashDifference(target, int(pagesFor(target).size())), QString());
    QCOMPARE(pause.steps, waitSteps(target));
    QVERIFY(bench.window.isVisible());
    bench.window.close();
    QVERIFY(!bench.window.isVisible());
}

// The window updates a control board recorded by zelupdate-cli-sim --record: it sends exactly the
// recorded reports and ends as the recording did.
void WindowSequenceHostTest::replaysRecordedUnit()
{
    const std::string recording = ZELUPDATE_RECORDINGS_DIR "/board-update.jsonl.gz";
    sim::ConversationLoad load = sim::loadConversation(recording);
    QVERIFY2(load.end == sim::ConversationLoad::End::Loaded, load.why.c_str());
    sim::RecordedUnit unit("app_windowsequencehost", recording, std::move(load.conversation), 1e5);
    devices().replaceUnits(&unit);

    Bench bench;
    // The recorded board's bootloader is waited for as the window waits, step by step.
    CountedSteps pause;
    bench.window.setStepPause(pause);
    QVERIFY(bench.show());
    QVERIFY(bench.click(Target(&kControlBoardTarget),
                        QStringLiteral(ZELUPDATE_EXAMPLES_DIR "/controlboard-example.hex")));
    devices().replaceUnits(nullptr);
    QCOMPARE(bench.timeline.constLast(),
             QStringLiteral("box [] The ZEL02 firmware has been updated"));
    QVERIFY(unit.replayedWhole());
    bench.window.close();
}

int main(int argc, char **argv)
{
    // A home of the test's own, set before anything reads it: the file dialog opens there.
    QTemporaryDir home;
    if (!home.isValid())
        return 1;
    const QString homePath = QFileInfo(home.path()).canonicalFilePath();
    qputenv("HOME", QFile::encodeName(homePath));
    // The updates' history goes there too, never into the user's own.
    qputenv("XDG_STATE_HOME", QFile::encodeName(homePath + QStringLiteral("/state")));
    // The program asks for the platform's dialog; the test answers Qt's own on every platform.
    QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    WindowSequenceHostTest test(homePath);
    return QTest::qExec(&test, argc, argv);
}

#include "tst_windowsequencehost.moc"
