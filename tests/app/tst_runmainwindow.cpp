#include "RunMainWindow.h"
#include "MainWin.h"
#include "SimulatedDevices.h"

#include <QApplication>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <QWindow>
#include <QtTest>

namespace {

MainWin *shownMainWin()
{
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        auto *mainWin = qobject_cast<MainWin *>(window);
        if (mainWin && mainWin->isVisible() && mainWin->windowHandle() &&
            mainWin->windowHandle()->isExposed())
            return mainWin;
    }
    return nullptr;
}

int mainWinCount()
{
    int count = 0;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows)
        count += qobject_cast<MainWin *>(window) ? 1 : 0;
    return count;
}

} // namespace

class RunMainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void runsUntilTheLoopEnds_data();
    void runsUntilTheLoopEnds();

private:
    QTemporaryDir settingsDir;
};

void RunMainWindowTest::initTestCase()
{
    QVERIFY(settingsDir.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
}

void RunMainWindowTest::runsUntilTheLoopEnds_data()
{
    QTest::addColumn<bool>("byButton");
    QTest::addColumn<int>("exitCode");

    // Closing the only window ends the loop with 0.
    QTest::newRow("close button") << true << 0;
    QTest::newRow("exit code passed on") << false << 3;
}

void RunMainWindowTest::runsUntilTheLoopEnds()
{
    QFETCH(bool, byButton);
    QFETCH(int, exitCode);

    sim::SimulatedDevices &sim = sim::SimulatedDevices::instance();
    sim.reset();

    bool sawWindow = false;
    QTimer poll;
    poll.setInterval(10);
    connect(&poll, &QTimer::timeout, [&] {
        MainWin *window = shownMainWin();
        if (!window)
            return;
        poll.stop();
        sawWindow = true;
        if (!byButton) {
            QApplication::exit(exitCode);
            return;
        }
        const auto buttons = window->findChildren<QPushButton *>();
        for (QPushButton *button : buttons) {
            if (button->text().startsWith(QLatin1String("St")))
                QTest::mouseClick(button, Qt::LeftButton);
        }
    });
    // Ends a loop that no window came up in, so the test fails instead of hanging.
    QTimer guard;
    guard.setSingleShot(true);
    connect(&guard, &QTimer::timeout, [] { QApplication::exit(-1); });
    poll.start();
    guard.start(5000);

    const int code = runMainWindow();
    QVERIFY(sawWindow);
    QCOMPARE(code, exitCode);
    // The window is gone and released the connection once.
    QCOMPARE(mainWinCount(), 0);
    QCOMPARE(sim.exitCount(), 1);
    QCOMPARE(sim.closeCount(), 0);
}

QTEST_MAIN(RunMainWindowTest)
#include "tst_runmainwindow.moc"
