// A batch of units: the order of their USB ports.

#include "UnitBatch.h"

#include <QtTest>

class UnitBatchTest : public QObject
{
    Q_OBJECT

private slots:
    void portOrder_data();
    void portOrder();
};

void UnitBatchTest::portOrder_data()
{
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("second");

    QTest::newRow("by number, not text") << "1-2"
                                         << "1-10";
    QTest::newRow("a hub before its ports") << "1-1"
                                            << "1-1.2";
    QTest::newRow("bus first") << "1-9.4"
                               << "2-1";
}

void UnitBatchTest::portOrder()
{
    QFETCH(QString, first);
    QFETCH(QString, second);
    QVERIFY(portBefore(first, second));
    QVERIFY(!portBefore(second, first));
}

QTEST_GUILESS_MAIN(UnitBatchTest)
#include "tst_unitbatch.moc"
