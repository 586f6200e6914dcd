// The window's programming progress dialog watched from outside while a programmer runs against
// the simulated device in its bootloader, reporting to the dialog parented to a shown window: when
// it appears, what it says, how its bar moves, and that it is gone once the call returns, however
// the walk ended.

#include "CommandChannel.h"
#include "MainWin.h"
#include "OpenWindows.h"
#include "ProgrammerFixture.h"
#include "ProgressDialogReporter.h"
#include "ProgressWatcher.h"
#include "TestDevices.h"
#include "TestTarget.h"
#include "UpdateTarget.h"

#include <QApplication>
#include <QProgressDialog>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using sim::Fault;
using sim::FaultKind;
using sim::FaultTrigger;

Q_DECLARE_METATYPE(sim::FaultKind)

namespace {

// Five ControlPanel pages: 0 to 2, 9 and 1024.
std::vector<Block> panelBlocks()
{
    return {{0x0000, pattern(150, 0x21, 11)},
            {0x0240, pattern(64, 0x60, 11)},
            {0x10000, pattern(3, 0x9A, 11)}};
}
const int kPanelPages = 5;

// Three control board pages: 0, 1 and 100.
std::vector<Block> boardBlocks()
{
    return {{0x0000, pattern(200, 0x17, 11)}, {0x3200, pattern(128, 0x44, 11)}};
}
const int kBoardPages = 3;

// The bar's values with the label shown at each: "1 Writing...", "2 Writing...", ...
QStringList walk(int written, int verified, int usedPages)
{
    QStringList steps;
    for (int value = 1; value <= written; ++value)
        steps << QStringLiteral("%1 Writing...").arg(value);
    for (int value = usedPages + 1; value <= usedPages + verified; ++value)
        steps << QStringLiteral("%1 Verifying...").arg(value);
    return steps;
}

} // namespace

class ProgressDialogTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void followsTheWalk_data();
    void followsTheWalk();
    void refusedFileShowsNothing_data();
    void refusedFileShowsNothing();

private:
    // Runs the target's programmer on the text with the window's progress dialog, as the update
    // sequence does once the bootloader runs.
    UpdateResult program(MainWin &window, Target target, const QByteArray &text);

    QTemporaryDir settingsDir;
};

void ProgressDialogTest::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
}

void ProgressDialogTest::init()
{
    devices().reset();
}

void ProgressDialogTest::cleanup()
{
    const QStringList open = visibleTopLevelWindows();
    QVERIFY2(open.isEmpty(), qPrintable(open.join(QLatin1String(", "))));
    QVERIFY(!QApplication::activeModalWidget());
}

UpdateResult ProgressDialogTest::program(MainWin &window, Target target, const QByteArray &text)
{
    if (isPanel(target))
        devices().setPanelState(sim::PanelState::Bootloader);
    else
        devices().enterBoardBootloader();
    CommandChannel channel;
    if (channel.openChannel())
        return QStringLiteral("no channel");
    const HexFile file = textFile(text);
    if (!file)
        return QStringLiteral("no file");
    ProgressDialogReporter progress(&window);
    return programHexFile(*target, channel, target->profile, file.get(), progress);
}

void ProgressDialogTest::followsTheWalk_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<QByteArray>("fault"); // the command it strikes; empty for none
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("written"); // pages the bar counts while writing
    QTest::addColumn<int>("verified");

    const Target panel = &kControlPanelTarget;
    const Target board = &kControlBoardTarget;
    const QString programming = QStringLiteral("USB communication error during programming");
    const QString verification = QStringLiteral("USB communication error during verification");

    QTest::newRow("panel, all good") << panel << QByteArray() << 0 << FaultKind::NoReply
                                     << QString() << kPanelPages << kPanelPages;
    QTest::newRow("panel, fourth page refused")
        << panel << QByteArray("Yy") << 3 << FaultKind::WrongEcho << programming << 3 << 0;
    QTest::newRow("panel, second read unanswered")
        << panel << QByteArray("Rr") << 1 << FaultKind::NoReply << verification << kPanelPages << 1;
    QTest::newRow("board, all good") << board << QByteArray() << 0 << FaultKind::NoReply
                                     << QString() << kBoardPages << kBoardPages;
    QTest::newRow("board, first page refused")
        << board << QByteArray("Mm") << 0 << FaultKind::FailedWrite << programming << 0 << 0;
    QTest::newRow("board, boot exit unanswered")
        << board << QByteArray("Oo") << 0 << FaultKind::NoReply
        << QStringLiteral("USB communication error during boot exit") << kBoardPages << kBoardPages;
}

void ProgressDialogTest::followsTheWalk()
{
    QFETCH(Target, target);
    QFETCH(QByteArray, fault);
    QFETCH(int, occurrence);
    QFETCH(FaultKind, kind);
    QFETCH(QString, result);
    QFETCH(int, written);
    QFETCH(int, verified);

    if (!fault.isEmpty())
        devices().injectFault(FaultTrigger::onCommand(fault[0], fault[1], occurrence), Fault{kind});
    MainWin window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ProgressWatcher watcher;

    const int usedPages = isPanel(target) ? kPanelPages : kBoardPages;
    const std::vector<Block> blocks = isPanel(target) ? panelBlocks() : boardBlocks();
    QCOMPARE(program(window, target, hexFile(blocks)), result);

    QCOMPARE(watcher.appearances().size(), 1);
    const ProgressWatcher::Appearance &shown = watcher.appearances().first();
    QCOMPARE(shown.label, QStringLiteral("Writing..."));
    QCOMPARE(shown.minimum, 0);
    QCOMPARE(shown.maximum, 2 * usedPages);
    QCOMPARE(shown.modality, Qt::ApplicationModal);
    QCOMPARE(shown.parent, &window);
    // Shown as built, in the order the dialog has always been set up in: its Cancel button and
    // its default minimum duration are changed only after show().
    QVERIFY(shown.buttonShown);
    QVERIFY(shown.minimumDuration != 0);

    // The cancel button goes and the minimum duration is set right after the dialog shows, before
    // the first page: no step may offer a way to cancel.
    QStringList steps;
    for (const ProgressWatcher::Step &step : shown.steps) {
        steps << QStringLiteral("%1 %2").arg(step.value).arg(step.label);
        QVERIFY(step.visible);
        QVERIFY(!step.buttonShown);
        QCOMPARE(step.minimumDuration, 0);
    }
    QCOMPARE(steps.join(QStringLiteral(", ")),
             walk(written, verified, usedPages).join(QStringLiteral(", ")));

    // Gone with the call, whatever the result.
    QCOMPARE(watcher.alive(), 0);
    QVERIFY(window.findChildren<QProgressDialog *>().isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
    window.close();
}

void ProgressDialogTest::refusedFileShowsNothing_data()
{
    QTest::addColumn<Target>("target");
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("result");

    QTest::newRow("panel, beyond the image limit")
        << &kControlPanelTarget << hexFile({{0x3FC10, pattern(16, 0x01, 11)}})
        << QStringLiteral("Memory address limit of 261144 bytes exceeded");
    QTest::newRow("board, wrong checksum")
        << &kControlBoardTarget << QByteArray(":0100000001FD\n")
        << QStringLiteral("Checksum Error line 1. Sum:FE Check:FD");
}

void ProgressDialogTest::refusedFileShowsNothing()
{
    QFETCH(Target, target);
    QFETCH(QByteArray, text);
    QFETCH(QString, result);

    MainWin window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    ProgressWatcher watcher;

    QCOMPARE(program(window, target, text), result);
    QVERIFY(watcher.appearances().isEmpty());
    QVERIFY(window.findChildren<QProgressDialog *>().isEmpty());
    QCOMPARE(devices().reportCount(), 0);
    window.close();
}

QTEST_MAIN(ProgressDialogTest)
#include "tst_progressdialog.moc"
