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
    void notes_data();
    void notes();
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

void ProbeReportTest::notes_data()
{
    QTest::addColumn<double>("toBootloaderMs"); // when the unit opened in its bootloader
    QTest::addColumn<double>("toApplicationMs");
    QTest::addColumn<QString>("bootloaderSerial");
    QTest::addColumn<QStringList>("notes"); // how each note begins

    const QString told = QStringLiteral("Its bootloader is listed otherwise");
    const QString slowIn = QStringLiteral("The restart into its bootloader took 3001 ms, more than "
                                          "the window's fixed wait of 3000 ms");
    const QString slowOut = QStringLiteral("The restart into its application took 3500 ms");
    // As long as the window waits, and no longer, is not slow.
    QTest::newRow("fast restarts") << 1500.0 << 3000.0 << "CP1000" << QStringList{told};
    QTest::newRow("slow into the bootloader")
        << 3001.0 << 1500.0 << "CP1000" << QStringList{slowIn, told};
    QTest::newRow("slow into the application")
        << 1500.0 << 3500.0 << "CP1000" << QStringList{told, slowOut};
    QTest::newRow("another serial number in the bootloader")
        << 1500.0 << 1500.0 << "BL0001"
        << QStringList{QStringLiteral("Its serial number is another in its bootloader"), told};
}

// What a measured restart means for the program: a note for each restart slower than the
// window's fixed wait, none for a fast one.
void ProbeReportTest::notes()
{
    QFETCH(double, toBootloaderMs);
    QFETCH(double, toApplicationMs);
    QFETCH(QString, bootloaderSerial);
    QFETCH(QStringList, notes);

    AttachedUnit application;
    application.path = "/dev/hidraw1";
    application.port = "1-1";
    application.serialNumber = L"CP1000";
    application.release = 0x0100;
    AttachedUnit bootloader = application;
    bootloader.path = "/dev/hidraw2";
    bootloader.serialNumber = bootloaderSerial.toStdWString();
    bootloader.release = 0x0001;
    AttachedUnit back = application;
    back.path = "/dev/hidraw3";

    ProbeReport report;
    report.restart = true;
    report.unit = application;
    report.checks = 200;
    report.roundTripsMs.assign(200, 1.0);
    for (RestartTrip *trip : {&report.toBootloader, &report.toApplication}) {
        trip->sent = trip->confirmed = true;
        trip->leftMs = 1.0;
    }
    report.toBootloader.backMs = report.toBootloader.openedMs = toBootloaderMs;
    report.toBootloader.back = bootloader;
    report.toApplication.backMs = report.toApplication.openedMs = toApplicationMs;
    report.toApplication.back = back;

    const QStringList got = probeNotes(report);
    QCOMPARE(got.size(), notes.size());
    for (int at = 0; at < notes.size(); ++at)
        QVERIFY2(got[at].startsWith(notes[at]), qPrintable(got[at]));
}

QTEST_GUILESS_MAIN(ProbeReportTest)
#include "tst_probereport.moc"
