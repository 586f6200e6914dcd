// Both update sequences as the user meets them: the window's own buttons clicked, the file dialog
// and the message boxes answered as they come up, the simulated ControlPanel and control board at
// the other end of the cable. Every case checks what a click leaves behind and what it showed on
// the way: the dialogs in the order they came, the reports written, the hidapi calls, the HEX
// file's use, the flash and the handles the devices see held. The waits are the program's own,
// three seconds each, so the cases that reach them are few and grouped.

#include "MainWin.h"
#include "ModalAnswerer.h"
#include "OpenWindows.h"
#include "ProgrammerFixture.h"
#include "ProgressWatcher.h"
#include "SequenceHost.h"
#include "SimulatedDevices.h"
#include "TargetProfile.h"

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

#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <vector>

using sim::Fault;
using sim::FaultKind;
using sim::FaultTrigger;
using sim::SimulatedDevices;
using std::chrono::milliseconds;
using Report = std::vector<std::uint8_t>;
using Reports = std::vector<Report>;

enum class Choice
{
    Cancel,  // the file dialog is cancelled
    Good,    // a file the loader takes
    Removed, // a file that is gone by the time the program opens it
    Refused, // a file the loader refuses
    Fifo,    // a named pipe, which no one writes to
};

using Target = const UpdateTarget *;
Q_DECLARE_METATYPE(Target)
Q_DECLARE_METATYPE(sim::FaultKind)
Q_DECLARE_METATYPE(Choice)

namespace {

SimulatedDevices &devices()
{
    return SimulatedDevices::instance();
}

const QString kFileDialog = QStringLiteral("file dialog");
const QString kPanelWait = QStringLiteral("progress: Wait...");
const QString kBoardWait = QStringLiteral("progress: Wait for zel02 bootloader...");
const QString kWriting = QStringLiteral("progress: Writing...");
const QString kErrorBox = QStringLiteral("box [] An error occured during firmware update\n");
const QString kEntryErrorBox = kErrorBox + "USB communication error during bootloader entry";
const QString kStartErrorBox = kErrorBox + "USB communication error during bootloader start";

bool isPanel(Target target)
{
    return target == &kControlPanelTarget;
}

// Pages 0 and 1 (one row), page 65 (its row's first page is blank) and page 4080 up to the image
// limit, below the ControlPanel's bootloader.
std::vector<Block> panelBlocks()
{
    return {{0x0000, pattern(100, 0x11, 13)},
            {0x1040, pattern(20, 0x52, 13)},
            {0x3FC00, pattern(0x18, 0xA7, 13)}};
}
const std::vector<std::uint32_t> kPanelPages{0, 1, 65, 4080};

// Page 0, part of page 2 and page 251, the last one below the control board's bootloader.
std::vector<Block> boardBlocks()
{
    return {{0x0000, pattern(128, 0x05, 13)},
            {0x0100, pattern(70, 0x3C, 13)},
            {0x7D80, pattern(128, 0xC9, 13)}};
}
const std::vector<std::uint32_t> kBoardPages{0, 2, 251};

std::vector<Block> blocksFor(Target target)
{
    return isPanel(target) ? panelBlocks() : boardBlocks();
}

const std::vector<std::uint32_t> &pagesFor(Target target)
{
    return isPanel(target) ? kPanelPages : kBoardPages;
}

// A record reaching into the target's bootloader: the loader refuses the whole file.
QByteArray refusedFile(Target target)
{
    return hexFile({{isPanel(target) ? 0x3FC10u : 0x7DF8u, pattern(16, 0x01, 13)}});
}

QString refusal(Target target)
{
    return QStringLiteral("Memory address limit of %1 bytes exceeded")
        .arg(isPanel(target) ? 261144 : 32256);
}

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

QString mismatch(std::uint32_t address, int expected, int actual)
{
    return QStringLiteral("\nError: Address 0x%1  Actual 0x%2  Expected 0x%3\n")
        .arg(address, 5, 16, QChar('0'))
        .arg(actual, 2, 16, QChar('0'))
        .arg(expected, 2, 16, QChar('0'));
}

// Every report of a whole update, in order: the connection check, the bootloader entry, for the
// control board its start command, then the page walk. The ControlPanel's bootloader exit is not
// among them: it follows wherever the walk stopped.
Reports wholeTraffic(Target target)
{
    const auto image = imageOf(blocksFor(target));
    TrafficModel model;
    model.command('E', 'e');
    if (isPanel(target)) {
        model.command('B', 'b');
        model.command('C', 'c');
        for (std::uint32_t page : kPanelPages) {
            if (page % 4 == 0)
                model.command32('X', 'x', page * 64);
            model.command32('Y', 'y', page * 64);
            model.data(image->data() + page * 64);
        }
        for (std::uint32_t page : kPanelPages)
            model.command32('R', 'r', page * 64);
    } else {
        model.command('K', 'k');
        model.command('C', 'c');
        for (std::uint32_t page : kBoardPages) {
            model.command16('L', 'l', page * 128);
            model.command('M', 'm');
            model.data(image->data() + page * 128);
            model.data(image->data() + page * 128 + 64);
        }
        for (std::uint32_t page : kBoardPages) {
            model.command16('L', 'l', page * 128);
            model.command('N', 'n');
        }
        model.command('O', 'o');
    }
    return model.reports;
}

// A command as the channel builds it: its two letters over whatever the last report left.
Report followedBy(const Reports &sent, char first, char second)
{
    Report report = sent.empty() ? Report(65, 0) : sent.back();
    report[1] = std::uint8_t(first);
    report[2] = std::uint8_t(second);
    return report;
}

// The first `count` reports of a whole update (all of them for -1), then the ControlPanel's
// bootloader exit when `exit` is set.
Reports expectedTraffic(Target target, int count, bool exit)
{
    Reports reports = wholeTraffic(target);
    if (count >= 0)
        reports.resize(std::size_t(count));
    if (exit)
        reports.push_back(followedBy(reports, 'b', 'B'));
    return reports;
}

// Where the flash departs from the image written on the first `written` used pages and erased
// everywhere else; empty when it does not.
template <std::size_t N>
QString flashDifference(const std::array<std::uint8_t, N> &flash, Target target, int written)
{
    const auto image = imageOf(blocksFor(target));
    const std::uint32_t pageSize = isPanel(target) ? 64 : 128;
    std::vector<std::uint8_t> expected(N, 0xFF);
    for (int i = 0; i < written; ++i) {
        const std::uint32_t offset = pagesFor(target)[std::size_t(i)] * pageSize;
        std::memcpy(expected.data() + offset, image->data() + offset, pageSize);
    }
    for (std::size_t address = 0; address < N; ++address) {
        if (flash[address] != expected[address])
            return QStringLiteral("0x%1 holds 0x%2, expected 0x%3")
                .arg(address, 5, 16, QChar('0'))
                .arg(flash[address], 2, 16, QChar('0'))
                .arg(expected[address], 2, 16, QChar('0'));
    }
    return {};
}

QString flashDifference(Target target, int written)
{
    return isPanel(target) ? flashDifference(devices().panelFlash(), target, written)
                           : flashDifference(devices().boardFlash(), target, written);
}

// How many of the process's open descriptors refer to the file.
int descriptorsOn(const QByteArray &path)
{
    DIR *folder = opendir("/proc/self/fd");
    if (!folder)
        return -1;
    int count = 0;
    while (const dirent *entry = readdir(folder)) {
        const QByteArray link = QByteArray("/proc/self/fd/") + entry->d_name;
        char target[4096];
        const ssize_t length = readlink(link.constData(), target, sizeof target);
        if (length > 0 && QByteArray(target, int(length)) == path)
            ++count;
    }
    closedir(folder);
    return count;
}

// Every open and close of one file, by anyone in the process, as "open" and "close" in order.
class FileUse
{
public:
    explicit FileUse(const QString &path)
        : queue(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          watch(inotify_add_watch(queue, QFile::encodeName(path).constData(), IN_OPEN | IN_CLOSE))
    {
    }
    ~FileUse() { ::close(queue); }
    FileUse(const FileUse &) = delete;
    FileUse &operator=(const FileUse &) = delete;

    bool isValid() const { return queue >= 0 && watch >= 0; }

    QStringList events()
    {
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t length = ::read(queue, buffer, sizeof buffer);
            if (length <= 0)
                break;
            for (ssize_t at = 0; at < length;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                if (event->mask & IN_OPEN)
                    seen << QStringLiteral("open");
                if (event->mask & IN_CLOSE)
                    seen << QStringLiteral("close");
                at += ssize_t(sizeof(inotify_event) + event->len);
            }
        }
        return seen;
    }

private:
    int queue;
    int watch;
    QStringList seen;
};

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
    return text;
}

// The window with everything that watches it: the dialogs answered in the order they come, the
// progress dialogs as they appear, and at each of those moments how many descriptors the process
// holds on the HEX file. click() runs one whole sequence and notes where the devices' counts
// stood before it.
class Bench
{
public:
    Bench()
    {
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
        opensBefore = devices().openCount();
        closesBefore = devices().closeCount();
        exitsBefore = devices().exitCount();
        reportsBefore = devices().reportsWritten().size();
        QTest::mouseClick(button, Qt::LeftButton);
        return true;
    }

    int opens() const { return devices().openCount() - opensBefore; }
    int closes() const { return devices().closeCount() - closesBefore; }
    int exits() const { return devices().exitCount() - exitsBefore; }
    Reports sent() const
    {
        const Reports all = devices().reportsWritten();
        return Reports(all.begin() + std::ptrdiff_t(reportsBefore), all.end());
    }
    int descriptorsNow() const { return descriptorsOn(hexPath); }

    MainWin window;
    ModalAnswerer answerer;
    ProgressWatcher watcher;
    QStringList timeline;
    QVector<int> descriptors;

private:
    void note(const QString &entry)
    {
        timeline << entry;
        descriptors << descriptorsOn(hexPath);
    }

    QByteArray hexPath;
    int opensBefore = 0;
    int closesBefore = 0;
    int exitsBefore = 0;
    std::size_t reportsBefore = 0;
};

// Nothing held before the file dialog; the file held from then on when the sequence opened it.
QVector<int> expectedDescriptors(int entries, bool fileOpened)
{
    QVector<int> counts(entries, fileOpened ? 1 : 0);
    if (entries > 0)
        counts[0] = 0;
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

class UpdateSequenceTest : public QObject
{
    Q_OBJECT

public:
    explicit UpdateSequenceTest(const QString &home) : home(home) {}

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void earlyEnds_data();
    void earlyEnds();
    void failuresAfterTheWait_data();
    void failuresAfterTheWait();
    void successfulUpdate_data();
    void successfulUpdate();
    void nothingInterruptsAnUpdate_data();
    void nothingInterruptsAnUpdate();

private:
    QString writeHex(const QString &name, const QByteArray &text);
    void checkDialogs(const Bench &bench, Target target);

    QString home;
};

void UpdateSequenceTest::initTestCase()
{
    QVERIFY(QFileInfo(home).isDir());
    // The file dialog opens in the home folder, which is this test's own.
    QCOMPARE(QDir::homePath(), home);
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, home + "/settings");
}

void UpdateSequenceTest::init()
{
    devices().reset();
}

void UpdateSequenceTest::cleanup()
{
    const QStringList open = visibleTopLevelWindows();
    QVERIFY2(open.isEmpty(), qPrintable(open.join(QLatin1String(", "))));
    QVERIFY(!QApplication::activeModalWidget());
}

QString UpdateSequenceTest::writeHex(const QString &name, const QByteArray &text)
{
    const QString path = home + QLatin1Char('/') + name;
    QDir().mkpath(QFileInfo(path).path());
    // An earlier case may have left a pipe there, which an open for writing would wait on.
    QFile::remove(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(text) != text.size())
        return {};
    return path;
}

// What every dialog of every sequence has in common, whatever it says.
void UpdateSequenceTest::checkDialogs(const Bench &bench, Target target)
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
            QCOMPARE(dialog.buttonCount, 1);
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

void UpdateSequenceTest::earlyEnds_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<int>("panels");
    QTest::addColumn<QByteArray>("fault"); // the command it strikes; empty for none
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<Choice>("choice");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<int>("reports");
    QTest::addColumn<QStringList>("fileUse");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("closes");
    QTest::addColumn<int>("exits");
    QTest::addColumn<bool>("channelOpen");
    QTest::addColumn<QStringList>("again"); // what the second click shows

    const Target panel = &kControlPanelTarget;
    const Target board = &kControlBoardTarget;
    const QString noDevice = QStringLiteral(
        "box [] Can't open USB connection to ControlPanel / Connect a ControlPanel to this "
        "computer with a USB cable and then power up the ControlPanel");
    const QString noConnection =
        QStringLiteral("critical [Error] Error: Can't connect to ControlPanel");
    const QString noFile = QStringLiteral("critical [Error] Error: Can't open hex file");
    const QStringList unused;
    const QStringList openedAndClosed{"open", "close"};
    const QStringList chooser{kFileDialog};

    for (Target target : {panel, board}) {
        const QByteArray name = isPanel(target) ? "panel: " : "board: ";
        QTest::newRow(name + "no device")
            << target << 0 << QByteArray() << FaultKind::NoReply << Choice::Good
            << QStringList{noDevice} << 0 << unused << 1 << 0 << 1 << false << chooser;
        QTest::newRow(name + "check not echoed")
            << target << 1 << QByteArray("Ee") << FaultKind::WrongEcho << Choice::Good
            << QStringList{noConnection} << 1 << unused << 1 << 0 << 0 << true << chooser;
        QTest::newRow(name + "check unanswered")
            << target << 1 << QByteArray("Ee") << FaultKind::NoReply << Choice::Good
            << QStringList{noConnection} << 1 << unused << 1 << 0 << 0 << true << chooser;
        QTest::newRow(name + "choice cancelled")
            << target << 1 << QByteArray() << FaultKind::NoReply << Choice::Cancel
            << QStringList{kFileDialog} << 1 << unused << 1 << 0 << 0 << true << chooser;
        QTest::newRow(name + "file gone")
            << target << 1 << QByteArray() << FaultKind::NoReply << Choice::Removed
            << QStringList{kFileDialog, noFile} << 1 << unused << 1 << 0 << 0 << true << chooser;
    }
    // A pipe would block the program for as long as no one writes to it: it is refused at once.
    for (Target target : {panel, board}) {
        QTest::newRow(isPanel(target) ? "panel: pipe chosen" : "board: pipe chosen")
            << target << 1 << QByteArray() << FaultKind::NoReply << Choice::Fifo
            << QStringList{kFileDialog, noFile} << 1 << openedAndClosed << 1 << 0 << 0 << true
            << chooser;
    }
    // The user is told when the target may have been left in its bootloader.
    const QStringList entryFailed{kFileDialog, kEntryErrorBox};
    QTest::newRow("panel: entry not echoed")
        << panel << 1 << QByteArray("Bb") << FaultKind::WrongEcho << Choice::Good << entryFailed
        << 2 << openedAndClosed << 1 << 1 << 1 << false << chooser;
    QTest::newRow("panel: entry write fails")
        << panel << 1 << QByteArray("Bb") << FaultKind::FailedWrite << Choice::Good << entryFailed
        << 2 << openedAndClosed << 1 << 1 << 1 << false << chooser;
    // The ControlPanel took the entry command and relays to the board from then on, whose
    // bootloader refuses the next connection check.
    QTest::newRow("board: entry not echoed")
        << board << 1 << QByteArray("Kk") << FaultKind::WrongEcho << Choice::Good << entryFailed
        << 2 << openedAndClosed << 1 << 1 << 1 << false << QStringList{noConnection};
    QTest::newRow("board: entry write fails")
        << board << 1 << QByteArray("Kk") << FaultKind::FailedWrite << Choice::Good << entryFailed
        << 2 << openedAndClosed << 1 << 1 << 1 << false << chooser;
}

// Every way a click ends before the wait, then a second click, cancelled at the file dialog if it
// comes: it reuses a channel the first one left open and opens a new one otherwise.
void UpdateSequenceTest::earlyEnds()
{
    QFETCH(Target, target);
    QFETCH(int, panels);
    QFETCH(QByteArray, fault);
    QFETCH(FaultKind, kind);
    QFETCH(Choice, choice);
    QFETCH(QStringList, shown);
    QFETCH(int, reports);
    QFETCH(QStringList, fileUse);
    QFETCH(int, opens);
    QFETCH(int, closes);
    QFETCH(int, exits);
    QFETCH(bool, channelOpen);
    QFETCH(QStringList, again);

    QString path = writeHex(QStringLiteral("early.hex"), hexFile(blocksFor(target)));
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
    QVERIFY(bench.show());
    bench.watchFile(path);
    if (choice == Choice::Removed) {
        bench.answerer.onAnswered = [path](const ModalAnswerer::Dialog &dialog) {
            if (dialog.chosen == path)
                QFile::remove(path);
        };
    }

    QVERIFY(bench.click(target, choice == Choice::Cancel ? QString() : path));
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
    QCOMPARE(QFileInfo::exists(path), choice != Choice::Removed);
    QCOMPARE(flashDifference(&kControlBoardTarget, 0), QString());
    if (panels > 0)
        QCOMPARE(flashDifference(&kControlPanelTarget, 0), QString());

    // The next click: the connection check first, over what the last report left.
    devices().setDeviceCount(1);
    QVERIFY(bench.click(target, QString()));
    QCOMPARE(lines(bench.timeline), lines(again));
    QCOMPARE(describe(bench.sent()), describe(Reports{followedBy(first, 'E', 'e')}));
    QCOMPARE(bench.opens(), channelOpen ? 0 : 1);
    QCOMPARE(bench.closes(), 0);
    QCOMPARE(bench.exits(), 0);
    QCOMPARE(devices().openHandles(), 1);
    QCOMPARE(use.events(), fileUse);
    bench.window.close();
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
    QTest::addColumn<int>("reports"); // of the whole update's, -1 for all
    QTest::addColumn<bool>("exitSent");
    QTest::addColumn<int>("pagesWritten");
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("closes");
    QTest::addColumn<int>("exits");

    const Target panel = &kControlPanelTarget;
    const Target board = &kControlBoardTarget;
    const auto panelImage = imageOf(panelBlocks());
    const auto boardImage = imageOf(boardBlocks());

    QTest::newRow("panel: not back from its restart")
        << panel << Choice::Good << QByteArray() << 0 << FaultKind::NoReply << 0 << 10000 << 0
        << QStringList{kFileDialog, kPanelWait, "box [] Could not update ControlPanel firmware."}
        << 2 << false << 0 << 2 << 1 << 2;
    QTest::newRow("panel: file refused")
        << panel << Choice::Refused << QByteArray() << 0 << FaultKind::NoReply << 0 << 1500 << 0
        << QStringList{kFileDialog, kPanelWait, kPanelWait, kErrorBox + refusal(panel)} << 2 << true
        << 0 << 2 << 2 << 2;
    // The third read-back is page 65's; byte 5 comes back with bit 6 flipped.
    QTest::newRow("panel: read-back differs")
        << panel << Choice::Good << QByteArray("Rr") << 2 << FaultKind::CorruptReadBack << 5 << 1500
        << 0
        << QStringList{kFileDialog, kPanelWait, kWriting, kPanelWait,
                       kErrorBox +
                           mismatch(0x1045, (*panelImage)[0x1045], (*panelImage)[0x1045] ^ 0x40)}
        << 16 << true << 4 << 2 << 2 << 2;
    QTest::newRow("panel: exit not echoed")
        << panel << Choice::Good << QByteArray("bB") << 0 << FaultKind::WrongEcho << 0 << 1500 << 0
        << QStringList{kFileDialog, kPanelWait, kWriting,
                       "box [] The ControlPanel firmware has been updated"}
        << -1 << true << 4 << 2 << 2 << 2;
    QTest::newRow("board: bootloader not started")
        << board << Choice::Good << QByteArray() << 0 << FaultKind::NoReply << 0 << 0 << 10000
        << QStringList{kFileDialog, kBoardWait, kStartErrorBox} << 3 << false << 0 << 1 << 1 << 1;
    QTest::newRow("board: start not echoed")
        << board << Choice::Good << QByteArray("Cc") << 0 << FaultKind::WrongEcho << 0 << 0 << 500
        << QStringList{kFileDialog, kBoardWait, kStartErrorBox} << 3 << false << 0 << 1 << 1 << 1;
    QTest::newRow("board: file refused")
        << board << Choice::Refused << QByteArray() << 0 << FaultKind::NoReply << 0 << 0 << 500
        << QStringList{kFileDialog, kBoardWait, kErrorBox + refusal(board)} << 3 << false << 0 << 1
        << 1 << 1;
    // The second page's write command goes nowhere.
    QTest::newRow("board: write fails")
        << board << Choice::Good << QByteArray("Mm") << 1 << FaultKind::FailedWrite << 0 << 0 << 500
        << QStringList{kFileDialog, kBoardWait, kWriting,
                       kErrorBox + "USB communication error during programming"}
        << 9 << false << 1 << 1 << 1 << 1;
    // The second read-back is page 2's first half; byte 7 comes back with bit 6 flipped.
    QTest::newRow("board: read-back differs")
        << board << Choice::Good << QByteArray("Nn") << 1 << FaultKind::CorruptReadBack << 7 << 0
        << 500
        << QStringList{kFileDialog, kBoardWait, kWriting,
                       kErrorBox +
                           mismatch(0x107, (*boardImage)[0x107], (*boardImage)[0x107] ^ 0x40)}
        << 19 << false << 3 << 1 << 1 << 1;
}

// Every way a sequence ends once the device was told to start its bootloader: the channel is
// closed and the file released whatever happened, and only the result box speaks of a result.
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
    QVERIFY(bench.show());
    bench.watchFile(path);
    QVERIFY(bench.click(target, path));

    QCOMPARE(lines(bench.timeline), lines(shown));
    checkDialogs(bench, target);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(describe(bench.sent()), describe(expectedTraffic(target, reports, exitSent)));
    QCOMPARE(bench.opens(), opens);
    QCOMPARE(bench.closes(), closes);
    QCOMPARE(bench.exits(), exits);
    QCOMPARE(devices().openHandles(), 0);
    QVector<int> descriptors = expectedDescriptors(bench.timeline.size(), true);
    // When the bootloader never started, the file is let go before the box says so.
    if (shown.last() == kStartErrorBox)
        descriptors.last() = 0;
    QCOMPARE(bench.descriptors, descriptors);
    QCOMPARE(bench.descriptorsNow(), 0);
    QCOMPARE(use.events(), QStringList({"open", "close"}));
    QCOMPARE(flashDifference(target, pagesWritten), QString());
    bench.window.close();
}

void UpdateSequenceTest::successfulUpdate_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("reuse"); // a cancelled click leaves the channel open first
    QTest::addColumn<int>("opens");
    QTest::addColumn<int>("closes");

    // Built from code points so that a wrong source encoding cannot make both sides agree.
    const QString foreign = QLatin1String("H") + QChar(0x00E4) + QLatin1String("mtningar/fw_") +
                            QChar(0x03A9) + QLatin1String(".hex");

    QTest::newRow("panel, channel reused")
        << &kControlPanelTarget << QStringLiteral("panel.hex") << true << 1 << 2;
    QTest::newRow("panel, name beyond Latin-1")
        << &kControlPanelTarget << foreign << false << 2 << 2;
    QTest::newRow("board, channel reused")
        << &kControlBoardTarget << QStringLiteral("board.hex") << true << 0 << 1;
    QTest::newRow("board, name beyond Latin-1")
        << &kControlBoardTarget << foreign << false << 1 << 1;
}

// A whole update with devices that take their time like the real ones.
void UpdateSequenceTest::successfulUpdate()
{
    QFETCH(Target, target);
    QFETCH(QString, name);
    QFETCH(bool, reuse);
    QFETCH(int, opens);
    QFETCH(int, closes);

    const QString path = writeHex(name, hexFile(blocksFor(target)));
    QVERIFY(!path.isEmpty());
    QVERIFY2(QFile::decodeName(QFile::encodeName(path)) == path,
             "the file system's encoding cannot hold the name");
    FileUse use(path);
    QVERIFY(use.isValid());
    devices().setRestartTime(milliseconds(1500));
    devices().setBoardEntryTime(milliseconds(500));

    Bench bench;
    QVERIFY(bench.show());
    bench.watchFile(path);
    if (reuse) {
        QVERIFY(bench.click(target, QString()));
        QCOMPARE(lines(bench.timeline), lines(QStringList{kFileDialog}));
        QCOMPARE(devices().openHandles(), 1);
    }
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
    QCOMPARE(use.events(), QStringList({"open", "close"}));
    QCOMPARE(flashDifference(target, int(pagesFor(target).size())), QString());
    // Both devices run their applications again.
    QCOMPARE(devices().panelState(), sim::PanelState::Application);
    QCOMPARE(devices().boardState(), sim::BoardState::Application);
    bench.window.close();
}

void UpdateSequenceTest::nothingInterruptsAnUpdate_data()
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
void UpdateSequenceTest::nothingInterruptsAnUpdate()
{
    QFETCH(Target, target);
    QFETCH(QString, during);

    const QString path = writeHex(QStringLiteral("hostile.hex"), hexFile(blocksFor(target)));
    QVERIFY(!path.isEmpty());
    devices().setRestartTime(milliseconds(1500));
    devices().setBoardEntryTime(milliseconds(500));

    Bench bench;
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
    QVERIFY(bench.window.isVisible());
    bench.window.close();
    QVERIFY(!bench.window.isVisible());
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
    UpdateSequenceTest test(homePath);
    return QTest::qExec(&test, argc, argv);
}

#include "UpdateSequenceTest.moc"
