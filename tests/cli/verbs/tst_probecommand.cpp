// zelupdate-cli probe in this process against the simulated devices: the round trips measured,
// the restart asked for and followed, every way a probe fails, and the report it keeps.

#include "CliFixture.h"
#include "CliRun.h"
#include "ProbeTexts.h"
#include "SimulatedDevices.h"
#include "TestFiles.h"
#include "UnitLock.h"
#include "UpdateHistory.h"
#include "UpdateTexts.h"

#include <QJsonDocument>
#include <QThread>
#include <QtTest>

#include <optional>

using sim::FaultKind;
using sim::FaultTrigger;
using sim::RestartQuirk;
using sim::SimulatedDevices;

namespace {

// The commands written, in order, as their two letters, a run of one repeated as "Ee*200", each
// prefixed with its unit's place when that is not the first: "Ee*200 Bb bB Ee".
QString commandsSent()
{
    QStringList sent;
    QString last;
    int repeats = 0;
    const auto flush = [&] {
        if (repeats > 0)
            sent << (repeats > 1 ? QStringLiteral("%1*%2").arg(last).arg(repeats) : last);
    };
    for (const sim::TrafficRecord &record : SimulatedDevices::instance().traffic()) {
        if (record.direction != sim::TrafficRecord::Direction::Out)
            continue;
        QString letters = QString::fromLatin1(reinterpret_cast<const char *>(&record.bytes[1]), 2);
        if (record.device != 0)
            letters = QStringLiteral("%1:%2").arg(record.device).arg(letters);
        if (letters == last) {
            ++repeats;
            continue;
        }
        flush();
        last = letters;
        repeats = 1;
    }
    flush();
    return sent.join(QLatin1Char(' '));
}

} // namespace

class ProbeCommandTest : public CliFixture
{
    Q_OBJECT

private slots:

    void probe_data();
    void probe();
};

void ProbeCommandTest::probe_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("units");
    QTest::addColumn<bool>("terminal");
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QByteArray>("faultCommand");
    QTest::addColumn<QList<int>>("occurrences");
    QTest::addColumn<int>("fault");
    QTest::addColumn<int>("quirk");
    QTest::addColumn<bool>("locked"); // another program holds the unit's lock
    // A unit with the same serial number is plugged in here once the probed one has left.
    QTest::addColumn<QString>("arrivesAt");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("message"); // in standard error
    QTest::addColumn<QString>("sent");    // commandsSent()
    QTest::addColumn<int>("failed");      // connection checks the report counts as failed
    // The lock's mark before the probe says an update did not finish, and after it whether the
    // unit may be in its bootloader.
    QTest::addColumn<bool>("unfinishedBefore");
    QTest::addColumn<bool>("unfinishedAfter");

    const QStringList json{"--json"};
    const QStringList restart{"--restart", "--yes", "--json"};
    const QList<int> none;
    const int echo = int(FaultKind::WrongEcho);
    const int noReply = int(FaultKind::NoReply);
    const int normal = int(RestartQuirk::Normal);
    const QString port = QStringLiteral("1-1");
    const QString measured = QStringLiteral("Probing the ControlPanel at USB port 1-1: 200 "
                                            "connection checks\n");
    const QString trip = QStringLiteral("Ee*200 Bb bB Ee");

    QTest::newRow("link") << json << 1 << false << QString() << QByteArray() << none << 0 << normal
                          << false << QString() << 0 << measured << "Ee*200" << 0 << false << false;
    QTest::newRow("restart, as text")
        << QStringList{"--restart", "--yes"} << 1 << false << QString() << QByteArray() << none << 0
        << normal << false << QString() << 0 << "Restarting it into its application\n"
        << trip << -1 << false << false;
    QTest::newRow("restart, confirmed")
        << QStringList{"--restart", "--json"} << 1 << true << "y" << QByteArray() << none << 0
        << normal << false << QString() << 0 << "Go on? [y/N] " << trip << 0 << false << false;
    QTest::newRow("restart, refused")
        << QStringList{"--restart", "--json"} << 1 << true << "yess" << QByteArray() << none << 0
        << normal << false << QString() << 2 << QString(kProbeRestartRefusedText).arg(port) << ""
        << -1 << false << false;
    QTest::newRow("restart, no terminal")
        << QStringList{"--restart"} << 1 << false << "y" << QByteArray() << none << 0 << normal
        << false << QString() << 2 << "add --yes to restart it without asking\n"
        << "" << -1 << false << false;
    QTest::newRow("one check lost")
        << json << 1 << false << QString() << QByteArray("Ee") << QList<int>{17} << echo << normal
        << false << QString() << 0 << measured << "Ee*200" << 1 << false << false;
    QTest::newRow("no check answered")
        << restart << 1 << false << QString() << QByteArray("Ee") << QList<int>{0, 1, 2} << noReply
        << normal << false << QString() << 5 << QString(kProbeNotAnsweringText).arg(port) << "Ee*3"
        << 3 << false << false;
    QTest::newRow("answers stop") << json << 1 << false << QString() << QByteArray("Ee")
                                  << QList<int>{50, 51, 52} << noReply << normal << false
                                  << QString() << 5
                                  << QString(kProbeStoppedAnsweringText).arg(port).arg(50)
                                  << "Ee*53" << 3 << false << false;
    QTest::newRow("never leaves") << restart << 1 << false << QString() << QByteArray() << none << 0
                                  << int(RestartQuirk::StaysOnBus) << false << QString() << 5
                                  << QString(kProbeNeverLeftText).arg(port).arg(5) << "Ee*200 Bb"
                                  << 0 << false << false;
    QTest::newRow("never returns")
        << restart + QStringList{"--restart-timeout", "1"} << 1 << false << QString()
        << QByteArray() << none << 0 << int(RestartQuirk::NeverReturns) << false << QString() << 5
        << QString(kProbeNotBackInBootloaderText).arg(port).arg(1) << "Ee*200 Bb" << 0 << false
        << true;
    // The unit restarted all the same, and is brought back before the fault is told.
    QTest::newRow("entry not echoed")
        << restart << 1 << false << QString() << QByteArray("Bb") << QList<int>{0} << echo << normal
        << false << QString() << 5 << QString(kProbeEntryUnconfirmedRestartText).arg(port) << trip
        << 0 << false << false;
    QTest::newRow("exit not echoed")
        << restart << 1 << false << QString() << QByteArray("bB") << QList<int>{0} << echo << normal
        << false << QString() << 5 << QString(kProbeExitUnconfirmedRestartText).arg(port) << trip
        << 0 << false << false;
    QTest::newRow("silent after the return")
        << restart << 1 << false << QString() << QByteArray("Ee") << QList<int>{200} << noReply
        << normal << false << QString() << 5 << QString(kProbeSilentAfterReturnText).arg(port)
        << trip << 0 << false << true;
    QTest::newRow("two units") << restart << 2 << false << QString() << QByteArray() << none << 0
                               << normal << false << QString() << 4
                               << "2 ControlPanels are attached (1-1, 1-2): choose one with --port"
                               << "" << -1 << false << false;
    QTest::newRow("the second of two")
        << restart + QStringList{"--port", "1-2"} << 2 << false << QString() << QByteArray() << none
        << 0 << normal << false << QString() << 0 << "at USB port 1-2: 200"
        << "1:Ee*200 1:Bb 1:bB 1:Ee" << 0 << false << false;
    QTest::newRow("back at another port")
        << restart + QStringList{"--restart-timeout", "1"} << 1 << false << QString()
        << QByteArray() << none << 0 << int(RestartQuirk::NeverReturns) << false << "1-2" << 5
        << QString(kProbeBackElsewhereText).arg(port).arg(1).arg(QStringLiteral("1-2"))
        << "Ee*200 Bb" << 0 << false << true;
    QTest::newRow("held by another program") << restart << 1 << false << QString() << QByteArray()
                                             << none << 0 << normal << true << QString() << 4
                                             << QString(kUnitBusyDetail)
                                                    .arg(port, QStringLiteral("zelUpdate"))
                                                    .arg(QCoreApplication::applicationPid())
                                             << "" << -1 << false << false;
    // Lost checks three apart are counted; only three lost in a row stop the probe.
    QTest::newRow("scattered lost checks")
        << json << 1 << false << QString() << QByteArray("Ee") << QList<int>{10, 13, 16} << noReply
        << normal << false << QString() << 0 << measured << "Ee*200" << 3 << false << false;
    // The departure is waited for as long as --leave-timeout says, not --restart-timeout.
    QTest::newRow("never leaves, leave time-out")
        << restart + QStringList{"--leave-timeout", "1", "--restart-timeout", "2"} << 1 << false
        << QString() << QByteArray() << none << 0 << int(RestartQuirk::StaysOnBus) << false
        << QString() << 5 << QString(kProbeNeverLeftText).arg(port).arg(1) << "Ee*200 Bb" << 0
        << false << false;
    // A probe that finds the unit as an earlier update left it keeps that update's mark.
    QTest::newRow("link, an update did not finish")
        << json << 1 << false << QString() << QByteArray() << none << 0 << normal << false
        << QString() << 0 << measured << "Ee*200" << 0 << true << true;
    QTest::newRow("no check answered, an update did not finish")
        << restart << 1 << false << QString() << QByteArray("Ee") << QList<int>{0, 1, 2} << noReply
        << normal << false << QString() << 5
        << QStringLiteral("\nThe last update of the ControlPanel at USB port 1-1, started "
                          "%1, did not finish")
        << "Ee*3" << 3 << true << true;
}

void ProbeCommandTest::probe()
{
    QFETCH(QStringList, options);
    QFETCH(int, units);
    QFETCH(bool, terminal);
    QFETCH(QString, answer);
    QFETCH(QByteArray, faultCommand);
    QFETCH(QList<int>, occurrences);
    QFETCH(int, fault);
    QFETCH(int, quirk);
    QFETCH(bool, locked);
    QFETCH(QString, arrivesAt);
    QFETCH(int, code);
    QFETCH(QString, message);
    QFETCH(QString, sent);
    QFETCH(int, failed);
    QFETCH(bool, unfinishedBefore);
    QFETCH(bool, unfinishedAfter);

    if (unfinishedBefore) {
        // An update that died while writing: its mark stays unfinished.
        UnitLock died;
        QCOMPARE(died.take(QStringLiteral("1-1"), QStringLiteral("zelupdate-cli"),
                           QStringLiteral("board")),
                 UnitLock::Outcome::Taken);
        died.note(QStringLiteral("writing"));
        died.releaseUnfinished();
        bool held = true;
        const std::optional<UnitMark> left = UnitLock::read(QStringLiteral("1-1"), held);
        QVERIFY(left && !held);
        if (message.contains(QLatin1String("%1")))
            message = message.arg(left->started.toString(QStringLiteral("yyyy-MM-dd HH:mm")));
    }
    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(units);
    for (int unit = 0; unit < units; ++unit) {
        simulated.setRestartQuirk(RestartQuirk(quirk), unit);
        for (std::size_t at = 0; at < sim::kPanelFlashSize; ++at)
            simulated.panelFlash(unit)[at] = std::uint8_t(at * 7 + unit);
        for (std::size_t at = 0; at < sim::kBoardFlashSize; ++at)
            simulated.boardFlash(unit)[at] = std::uint8_t(at * 13 + unit);
    }
    const auto flashes = [&simulated, units] {
        QByteArrayList bytes;
        for (int unit = 0; unit < units; ++unit)
            bytes << QByteArray(reinterpret_cast<const char *>(simulated.panelFlash(unit).data()),
                                int(sim::kPanelFlashSize))
                  << QByteArray(reinterpret_cast<const char *>(simulated.boardFlash(unit).data()),
                                int(sim::kBoardFlashSize));
        return bytes;
    };
    const QByteArrayList flashBefore = flashes();
    for (const int occurrence : occurrences)
        simulated.injectFault(FaultTrigger::onCommand(faultCommand[0], faultCommand[1], occurrence),
                              {FaultKind(fault)});
    UnitLock other;
    if (locked)
        QCOMPARE(
            other.take(QStringLiteral("1-1"), QStringLiteral("zelUpdate"), QStringLiteral("panel")),
            UnitLock::Outcome::Taken);

    CliSetup setup;
    setup.inIsTerminal = terminal;
    setup.answer = answer;
    // The restarts are followed against the clock; a pause that sleeps keeps the looks few.
    setup.pause = [&](int milliseconds) {
        if (!arrivesAt.isEmpty() && simulated.unitIndex(arrivesAt.toStdString()) < 0)
            simulated.attachUnit(arrivesAt.toStdString(), "CP1000");
        QThread::msleep(ulong(milliseconds));
    };
    const CliRun run = runCli(QStringList{"probe"} + options, setup);
    QCOMPARE(run.code, code);
    QVERIFY2(run.err.contains(message), qPrintable(run.err));
    QCOMPARE(commandsSent(), sent);
    QVERIFY(flashes() == flashBefore);
    bool held = true;
    const std::optional<UnitMark> mark = UnitLock::read(QStringLiteral("1-1"), held);
    QCOMPARE(mark && mark->unfinishedPastEntry(), unfinishedAfter);
    if (!options.contains(QStringLiteral("--json"))) {
        if (code == 0)
            QVERIFY2(run.out.contains(QStringLiteral("\nto the bootloader:\n")) &&
                         run.out.endsWith(QStringLiteral("\nresult: measured\nexit code: 0\n")),
                     qPrintable(run.out));
        return;
    }
    if (failed < 0) {
        if (code == 2)
            QCOMPARE(run.out, QString());
        return;
    }

    QJsonParseError error;
    const QJsonObject report = QJsonDocument::fromJson(run.out.toUtf8(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    QCOMPARE(report[QStringLiteral("exitCode")].toInt(), code);
    const QJsonObject roundTrips = report[QStringLiteral("roundTripMs")].toObject();
    // Every check sent before anything else is counted.
    QCOMPARE(roundTrips[QStringLiteral("checks")].toInt(),
             sent.section(QLatin1Char(' '), 0, 0).section(QLatin1Char('*'), 1).toInt());
    QCOMPARE(roundTrips[QStringLiteral("failed")].toInt(), failed);
    QCOMPARE(report.contains(QStringLiteral("toBootloader")),
             options.contains(QStringLiteral("--restart")));
    if (options.contains(QStringLiteral("--restart")) && code == 0) {
        const QJsonObject toBootloader = report[QStringLiteral("toBootloader")].toObject();
        for (const QJsonObject &trip :
             {toBootloader, report[QStringLiteral("toApplication")].toObject()}) {
            const double left = trip[QStringLiteral("leftMs")].toDouble(-1);
            const double back = trip[QStringLiteral("backMs")].toDouble(-1);
            QVERIFY(0 <= left && left <= back &&
                    back <= trip[QStringLiteral("openedMs")].toDouble());
            QCOMPARE(trip[QStringLiteral("newNode")].toBool(), true);
            // Another unit that was there all along did not come up meanwhile.
            QVERIFY(trip[QStringLiteral("elsewhere")].isNull());
        }
        QCOMPARE(toBootloader[QStringLiteral("unit")].toObject()[QStringLiteral("release")],
                 QJsonValue(QStringLiteral("0x0001")));
        QCOMPARE(report[QStringLiteral("bootloaderToldApart")], QJsonValue(true));
    }
    // The report is kept as it was written, the failed ones too.
    const QString kept = report[QStringLiteral("reportFile")].toString();
    QVERIFY2(kept.startsWith(QFileInfo(historyPath()).path() + QStringLiteral("/probe-1-")),
             qPrintable(kept));
    QJsonObject keptReport = QJsonDocument::fromJson(readFile(kept)).object();
    keptReport.insert(QStringLiteral("reportFile"), kept);
    QCOMPARE(keptReport, report);
}

QTEST_GUILESS_MAIN(ProbeCommandTest)
#include "tst_probecommand.moc"
