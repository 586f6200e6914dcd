// zelupdate-cli's exit statuses: the one a batch of units ends with, from each unit's own.

#include "UnitsSummary.h"

#include <QtTest>

#include <vector>

class ExitCodesTest : public QObject
{
    Q_OBJECT

private slots:
    void allUnitsExitCode_data();
    void allUnitsExitCode();
};

void ExitCodesTest::allUnitsExitCode_data()
{
    QTest::addColumn<QList<int>>("codes"); // each unit's, in port order
    QTest::addColumn<int>("code");

    QTest::newRow("none attached") << QList<int>() << 4;
    QTest::newRow("every unit updated") << QList<int>{0, 0, 0} << 0;
    // However late it comes, a unit that may hold an incomplete firmware decides.
    QTest::newRow("one incomplete") << QList<int>{5, 0, 6, 1} << 1;
    QTest::newRow("first failing by port") << QList<int>{0, 6, 5} << 6;
    QTest::newRow("a worker interrupted") << QList<int>{0, 130} << 130;
}

void ExitCodesTest::allUnitsExitCode()
{
    QFETCH(QList<int>, codes);
    QFETCH(int, code);
    QCOMPARE(::allUnitsExitCode(std::vector<int>(codes.begin(), codes.end())), code);
}

QTEST_GUILESS_MAIN(ExitCodesTest)
#include "tst_exitcodes.moc"
