// update --wait: the ControlPanel waited for, polled every 250 ms, until one usable unit is there
// or the time is up.

#include "CliFixture.h"
#include "CliRun.h"
#include "SimulatedDevices.h"
#include "UpdateTexts.h"

#include <QtTest>

using sim::PanelAccess;
using sim::SimulatedDevices;

class PanelWaitTest : public CliFixture
{
    Q_OBJECT

private slots:

    void waitForPanel_data();
    void waitForPanel();
};

void PanelWaitTest::waitForPanel_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("access");
    QTest::addColumn<int>("changeAtPoll"); // after this many polls one usable panel is there
    QTest::addColumn<int>("code");
    QTest::addColumn<int>("polls");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("seconds"); // --wait's

    const int open = int(PanelAccess::Open);
    QTest::newRow("already attached") << 1 << open << -1 << 0 << 0 << kBoardUpdatedText << 2;
    QTest::newRow("plugged in") << 0 << open << 3 << 0 << 3 << kBoardUpdatedText << 2;
    QTest::newRow("opens once udev lets it")
        << 1 << int(PanelAccess::NoPermission) << 2 << 0 << 2 << kBoardUpdatedText << 2;
    QTest::newRow("never comes") << 0 << open << -1 << 4 << 8 << kNoPanelText << 2;
    QTest::newRow("two attached") << 2 << open << -1 << 4 << 0 << kSeveralPanelsText << 2;
    // --wait 0 looks once and goes on, as without --wait.
    QTest::newRow("no wait, attached") << 1 << open << -1 << 0 << 0 << kBoardUpdatedText << 0;
    QTest::newRow("no wait, none") << 0 << open << 1 << 4 << 0 << kNoPanelText << 0;
}

void PanelWaitTest::waitForPanel()
{
    QFETCH(int, devices);
    QFETCH(int, access);
    QFETCH(int, changeAtPoll);
    QFETCH(int, code);
    QFETCH(int, polls);
    QFETCH(QString, message);
    QFETCH(int, seconds);

    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(devices);
    if (devices > 0)
        simulated.setPanelAccess(PanelAccess(access));
    int pollsSeen = 0;
    CliSetup setup;
    setup.pause = [&](int milliseconds) {
        if (milliseconds == 250 && ++pollsSeen == changeAtPoll) {
            simulated.setDeviceCount(1);
            simulated.setPanelAccess(PanelAccess::Open);
        }
    };
    const CliRun run =
        runCli({QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("board"),
                QStringLiteral("--wait"), QString::number(seconds), file(QStringLiteral("board"))},
               setup);
    QCOMPARE(run.code, code);
    QVERIFY2(run.err.contains(message + '\n'), qPrintable(run.err));
    QVERIFY(
        run.err.contains(QStringLiteral("Waiting up to %1 s for one ControlPanel\n").arg(seconds)));
    QCOMPARE(run.pauses.count(250), polls);
    QCOMPARE(simulated.reportCount() > 0, code == 0);
}

QTEST_GUILESS_MAIN(PanelWaitTest)
#include "tst_panelwait.moc"
