// A unit's worker process as update --all sees it end: its own result, or what its end tells of
// the unit when it wrote none; every event it writes is tagged with its unit.

#include "UnitWorker.h"

#include <QtTest>

class UnitWorkerTest : public QObject
{
    Q_OBJECT

private slots:
    void workerEnds_data();
    void workerEnds();
};

void UnitWorkerTest::workerEnds_data()
{
    // A shell stands in for the worker: what it writes, then how it ends.
    QTest::addColumn<QString>("script");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("result");

    const QString writing =
        QStringLiteral("echo '{\"event\":\"phase\",\"phase\":\"writing\",\"total\":3}'; ");
    const QString connecting =
        QStringLiteral("echo '{\"event\":\"phase\",\"phase\":\"connecting\",\"total\":0}'; ");
    // Its code is the result's, not the process's status.
    QTest::newRow("its own result")
        << writing + QStringLiteral("echo '{\"event\":\"result\",\"result\":\"not back\","
                                    "\"seconds\":2,\"exitCode\":6}'; exit 0")
        << 6 << "not back";
    // Cut in the middle of a write, it may have left the firmware incomplete.
    QTest::newRow("killed while writing")
        << writing + QStringLiteral("kill -9 $$") << 1
        << "ended by signal 9 (Killed) after the bootloader entry: the firmware may be "
           "incomplete; update this unit again";
    // The entry command may have reached the unit before the worker died.
    QTest::newRow("killed while entering")
        << QStringLiteral("echo '{\"event\":\"phase\",\"phase\":\"entering\",\"total\":0}'; "
                          "kill -9 $$")
        << 1
        << "ended by signal 9 (Killed) after the bootloader entry: the firmware may be "
           "incomplete; update this unit again";
    QTest::newRow("interrupted before the entry")
        << connecting + QStringLiteral("exit 130") << 130
        << "ended by signal 2 (Interrupt) before the bootloader entry: nothing was sent";
    QTest::newRow("silent") << QStringLiteral("exit 0") << 5
                            << "ended with exit status 0 without a result before the bootloader "
                               "entry: nothing was sent";
}

void UnitWorkerTest::workerEnds()
{
    QFETCH(QString, script);
    QFETCH(int, code);
    QFETCH(QString, result);

    UnitWorker worker(QStringLiteral("1-2"), QStringLiteral("CP1001"));
    QStringList events;
    worker.onEvent = [&events](const QJsonObject &event) {
        events << event.value(QStringLiteral("port")).toString() +
                      event.value(QStringLiteral("serial")).toString();
    };
    worker.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), script}, QByteArray());
    QTRY_VERIFY(worker.report().ended);
    QCOMPARE(worker.report().exitCode, code);
    QCOMPARE(worker.report().result, result);
    QVERIFY(!events.isEmpty() || code == 5);
    for (const QString &event : events)
        QCOMPARE(event, QStringLiteral("1-2CP1001"));
}

QTEST_GUILESS_MAIN(UnitWorkerTest)
#include "tst_unitworker.moc"
