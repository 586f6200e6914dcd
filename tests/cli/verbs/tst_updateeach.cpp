// update --each: units updated one after another as they are plugged in, polled between units,
// and the units it cannot take at once.

#include "CliFixture.h"
#include "CliRun.h"
#include "CliTexts.h"
#include "SimulatedDevices.h"
#include "UnitLock.h"
#include "UpdateEach.h"
#include "UpdateTexts.h"

#include <QRegularExpression>
#include <QtTest>

using sim::FaultKind;
using sim::FaultTrigger;
using sim::SimulatedDevices;

class UpdateEachTest : public CliFixture
{
    Q_OBJECT

private slots:

    void eachUnit();
    void eachUnitTurns_data();
    void eachUnitTurns();
};

// update --each on one socket: a unit is updated as it is plugged in and not again while it stays,
// a failing one is told apart, and the end between units gives the tally.
void UpdateEachTest::eachUnit()
{
    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(0);
    simulated.injectFault(FaultTrigger::onCommand('R', 'r', 3).atPort("1-2"),
                          {FaultKind::CorruptReadBack, 5, 0x01});
    QByteArray firstFlash;
    int polls = 0;
    bool end = false;
    CliSetup setup;
    // Bounded, so that a run that never waits fails instead of hanging.
    int asked = 0;
    setup.endRequested = [&] { return end || ++asked > 50; };
    setup.pause = [&](int milliseconds) {
        if (milliseconds != kEachPollMs)
            return; // the sequence's own, while it follows a restart
        switch (++polls) {
        case 1:
            simulated.attachUnit("1-1", "CP1000");
            break;
        case 3: // it was seen still attached, once updated
            firstFlash = panelFlash();
            simulated.detachUnit("1-1");
            break;
        case 4:
            simulated.attachUnit("1-2", "CP2000");
            break;
        case 6:
            end = true;
            break;
        }
    };
    const CliRun run =
        runCli({QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
                QStringLiteral("--each"), file(QStringLiteral("panel"))},
               setup);
    QCOMPARE(run.code, 1);
    QVERIFY(firstFlash == panelImage);
    const QStringList lines = run.out.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 5);
    const QString time = QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  ");
    QVERIFY2(QRegularExpression(time + QStringLiteral("1-1  CP1000  updated  \\d+\\.\\d s  "
                                                      "\\(1 updated, 0 failed\\)$"))
                 .match(lines[0])
                 .hasMatch(),
             qPrintable(lines[0]));
    QVERIFY2(
        QRegularExpression(time + QStringLiteral("1-2  CP2000  failed \\(exit code 1\\): .*"
                                                 "Address 0x000c5.* \\(1 updated, 1 failed\\)$"))
            .match(lines[1])
            .hasMatch(),
        qPrintable(lines[1]));
    QCOMPARE(lines.mid(2), (QStringList{"tally: 1 updated, 1 failed", "exit code: 1", ""}));
    QCOMPARE(polls, 6);
}

void UpdateEachTest::eachUnitTurns_data()
{
    // At each poll of --each, in order: "N attach PORT SERIAL", "N detach PORT", "N bootloader
    // PORT" (the unit there restarted into its bootloader), "N hold PORT" (another program takes
    // its lock), "N release PORT" (and ends its update without writing), "N clear" (no more
    // faults), "N end" (Ctrl-C).
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("faultAt");     // the port whose fourth read-back comes back wrong
    QTest::addColumn<QStringList>("results"); // each unit's line, after its time
    QTest::addColumn<QStringList>("said");    // standard error holds each once, in order
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QString>("untouched"); // the port of a unit whose flash stays erased

    const QString updated = QStringLiteral("updated  \\d+\\.\\d s  ");
    const QString failed = QStringLiteral("failed \\(exit code 1\\): .*");
    const QString waiting =
        QStringLiteral("The ControlPanel at USB port 1-1 is being updated by tst_cli (process %1): "
                       "waiting until that update has ended")
            .arg(QCoreApplication::applicationPid());
    const QString silent = QString(kEachSilentReturnText).arg(QStringLiteral("1-1"));

    QTest::newRow("held by another program: waited for, not failed")
        << QStringList{"1 attach 1-1 CP1000", "1 hold 1-1", "4 release 1-1", "6 end"} << ""
        << QStringList{"1-1  CP1000  " + updated + "\\(1 updated, 0 failed\\)"}
        << QStringList{waiting} << 0 << QStringList() << QString();
    // Its update gave up on it, and it came back in its bootloader: not a unit to update anew.
    QTest::newRow("failed, back in its bootloader: left until back in its application")
        << QStringList{"1 attach 1-1 CP1000", "3 detach 1-1", "4 attach 1-1 CP1000",
                       "4 bootloader 1-1",    "7 detach 1-1", "7 clear",
                       "8 attach 1-1 CP1000", "10 end"}
        << "1-1"
        << QStringList{"1-1  CP1000  " + failed + "\\(0 updated, 1 failed\\)",
                       "1-1  CP1000  " + updated + "\\(1 updated, 1 failed\\)"}
        << QStringList{silent} << 1 << QStringList() << QString();
    QTest::newRow("failed, then another unit at its port")
        << QStringList{"1 attach 1-1 CP1000", "3 detach 1-1", "3 clear", "3 attach 1-1 CP2000",
                       "5 end"}
        << "1-1"
        << QStringList{"1-1  CP1000  " + failed + "\\(0 updated, 1 failed\\)",
                       "1-1  CP2000  " + updated + "\\(1 updated, 1 failed\\)"}
        << QStringList() << 1 << QStringList() << QString();
    // --port names one socket exactly: a unit behind a hub plugged into it is not at that port.
    QTest::newRow("--port 1-1 never takes 1-1.2")
        << QStringList{"1 attach 1-1.2 CP3000", "3 attach 1-1 CP1000", "6 end"} << ""
        << QStringList{"1-1  CP1000  " + updated + "\\(1 updated, 0 failed\\)"} << QStringList()
        << 0 << QStringList{"--port", "1-1"} << "1-1.2";
}

// update --each and the units it cannot take at once: one another program holds, and one whose
// update failed here, until it is back in its application.

void UpdateEachTest::eachUnitTurns()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, faultAt);
    QFETCH(QStringList, results);
    QFETCH(QStringList, said);
    QFETCH(int, code);
    QFETCH(QStringList, options);
    QFETCH(QString, untouched);

    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(0);
    const auto injectFault = [&] {
        if (!faultAt.isEmpty())
            simulated.injectFault(
                FaultTrigger::onCommand('R', 'r', 3).atPort(faultAt.toStdString()),
                {FaultKind::CorruptReadBack, 5, 0x01});
    };
    injectFault();
    UnitLock other;
    int polls = 0;
    bool end = false;
    CliSetup setup;
    // Bounded, so that a run that never waits fails instead of hanging.
    int asked = 0;
    setup.endRequested = [&] { return end || ++asked > 100; };
    setup.pause = [&](int milliseconds) {
        if (milliseconds != kEachPollMs)
            return; // the sequence's own, while it follows a restart
        ++polls;
        for (const QString &step : qAsConst(steps)) {
            const QStringList words = step.split(QLatin1Char(' '));
            if (words[0].toInt() != polls)
                continue;
            const std::string port = words.value(2).toStdString();
            if (words[1] == QLatin1String("attach"))
                simulated.attachUnit(port, words[3].toStdString());
            else if (words[1] == QLatin1String("detach"))
                simulated.detachUnit(port);
            else if (words[1] == QLatin1String("bootloader"))
                simulated.setPanelState(sim::PanelState::Bootloader, simulated.unitIndex(port));
            else if (words[1] == QLatin1String("hold"))
                other.take(words[2], QStringLiteral("tst_cli"), QStringLiteral("panel"));
            else if (words[1] == QLatin1String("release"))
                other.release();
            else if (words[1] == QLatin1String("clear"))
                simulated.clearFaults();
            else if (words[1] == QLatin1String("end"))
                end = true;
        }
    };
    const CliRun run = runCli(QStringList{QStringLiteral("update"), QStringLiteral("--target"),
                                          QStringLiteral("panel"), QStringLiteral("--each"),
                                          file(QStringLiteral("panel"))} +
                                  options,
                              setup);
    other.release();

    QCOMPARE(run.code, code);
    QStringList lines = run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    QCOMPARE(lines.takeLast(), QStringLiteral("exit code: %1").arg(code));
    lines.removeLast(); // the tally
    QCOMPARE(lines.size(), results.size());
    for (int at = 0; at < results.size(); ++at)
        QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d  ") +
                                    results[at] + QLatin1Char('$'))
                     .match(lines[at])
                     .hasMatch(),
                 qPrintable(lines[at]));
    int from = 0;
    for (const QString &text : said) {
        QCOMPARE(run.err.count(text), 1);
        QVERIFY2(run.err.indexOf(text, from) >= 0, qPrintable(run.err));
        from = run.err.indexOf(text, from);
    }
    QVERIFY2(end, "the run ended before its last step");
    // The last unit updated holds the image.
    const auto flashAt = [&simulated](const QString &port) {
        return QByteArray(reinterpret_cast<const char *>(
                              simulated.panelFlash(simulated.unitIndex(port.toStdString())).data()),
                          int(sim::kPanelFlashSize));
    };
    if (results.last().contains(QLatin1String("updated")))
        QVERIFY(flashAt(results.last().section(QLatin1Char(' '), 0, 0)) == panelImage);
    if (!untouched.isEmpty())
        QCOMPARE(flashAt(untouched), QByteArray(int(sim::kPanelFlashSize), '\xff'));
}

QTEST_GUILESS_MAIN(UpdateEachTest)
#include "tst_updateeach.moc"
