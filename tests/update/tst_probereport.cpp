// The round-trip figures a probe reports, from the times it measured: the median of an even
// count is the mean of the middle two, the 99th percentile the nearest rank.

#include "ProbeReport.h"

#include <QtTest>

#include <algorithm>
#include <numeric>

class ProbeReportTest : public QObject
{
    Q_OBJECT

private slots:
    void roundTripFigures_data();
    void roundTripFigures();
};

void ProbeReportTest::roundTripFigures_data()
{
    QTest::addColumn<QVector<double>>("times");
    QTest::addColumn<QVector<double>>("figures"); // min, median, p99, max

    QVector<double> twoHundred(200);
    std::iota(twoHundred.begin(), twoHundred.end(), 1.0);
    std::reverse(twoHundred.begin(), twoHundred.end());
    QTest::newRow("200, in any order") << twoHundred << QVector<double>{1, 100.5, 198, 200};
    QTest::newRow("odd count") << QVector<double>{3, 1, 2} << QVector<double>{1, 2, 3, 3};
    QTest::newRow("one") << QVector<double>{2.5} << QVector<double>{2.5, 2.5, 2.5, 2.5};
    QTest::newRow("none answered") << QVector<double>() << QVector<double>{0, 0, 0, 0};
}

void ProbeReportTest::roundTripFigures()
{
    QFETCH(QVector<double>, times);
    QFETCH(QVector<double>, figures);
    const RoundTripFigures got =
        ::roundTripFigures(std::vector<double>(times.begin(), times.end()));
    QCOMPARE((QVector<double>{got.min, got.median, got.p99, got.max}), figures);
}

QTEST_GUILESS_MAIN(ProbeReportTest)
#include "tst_probereport.moc"
