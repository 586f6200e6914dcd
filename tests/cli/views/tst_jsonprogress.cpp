// An update's progress and result as JSON Lines on standard output (update --json): its phases in
// order, the pages counted up, and a result that names the target, the file and its image.

#include "CliFixture.h"
#include "CliRun.h"
#include "CliTexts.h"
#include "SimulatedDevices.h"
#include "UpdateTexts.h"

#include <QCryptographicHash>
#include <QtTest>

using sim::FaultKind;
using sim::FaultTrigger;
using sim::SimulatedDevices;

class JsonProgressTest : public CliFixture
{
    Q_OBJECT

private slots:

    void jsonStream_data();
    void jsonStream();
};

void JsonProgressTest::jsonStream_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QByteArray>("faultCommand");
    QTest::addColumn<int>("occurrence");
    QTest::addColumn<QStringList>("phases");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("result");

    const QStringList board{"connecting", "entering", "waiting", "writing", "verifying", "leaving"};
    const QStringList panel{"connecting", "entering", "departing", "returning", "writing",
                            "verifying",  "leaving",  "departing", "returning", "confirming"};
    QTest::newRow("panel") << "panel" << QByteArray() << 0 << panel << 0
                           << QString(kPanelUpdatedText);
    QTest::newRow("board") << "board" << QByteArray() << 0 << board << 0
                           << QString(kBoardUpdatedText);
    // The control board stays in its bootloader, and only --in-bootloader reaches it there.
    QTest::newRow("board write fails")
        << "board" << QByteArray("Mm") << 40 << QStringList(board.mid(0, 4)) << 1
        << QString(kErrorPrefix) + kProgrammingError + '\n' + kBoardLeftInBootloaderText +
               ": run the update again with --in-bootloader";
    // The ControlPanel leaves its bootloader after a failed walk too.
    QTest::newRow("panel verify fails") << "panel" << QByteArray("Rr") << 100 << panel << 1
                                        << QString(kErrorPrefix) + kVerificationError;
}

void JsonProgressTest::jsonStream()
{
    QFETCH(QString, target);
    QFETCH(QByteArray, faultCommand);
    QFETCH(int, occurrence);
    QFETCH(QStringList, phases);
    QFETCH(int, exitCode);
    QFETCH(QString, result);

    if (!faultCommand.isEmpty())
        SimulatedDevices::instance().injectFault(
            FaultTrigger::onCommand(faultCommand[0], faultCommand[1], occurrence),
            {FaultKind::NoReply});
    const QString path = file(target);
    const CliRun run = runCli({QStringLiteral("update"), QStringLiteral("--target"), target, path,
                               QStringLiteral("--json")});
    QCOMPARE(run.code, exitCode);
    bool allParse = false;
    const QList<QJsonObject> lines = jsonLines(run.out, allParse);
    QVERIFY2(allParse, qPrintable(run.out));
    QVERIFY(lines.size() > 2);
    // The progress is in the JSON, not on standard error.
    QVERIFY(!run.err.contains(QStringLiteral("Writing")));

    QStringList seen;
    QString phase;
    int total = 0;
    int lastPercent = 0;
    int lastDone = 0;
    for (const QJsonObject &line : lines.mid(0, lines.size() - 1)) {
        const QString event = line.value(QStringLiteral("event")).toString();
        if (event == QLatin1String("phase")) {
            phase = line.value(QStringLiteral("phase")).toString();
            total = line.value(QStringLiteral("total")).toInt(-1);
            QVERIFY(total >= 0);
            seen << phase;
            lastPercent = 0;
            lastDone = 0;
            continue;
        }
        // The unit chosen, the entry and warnings are the schema test's.
        if (event != QLatin1String("progress"))
            continue;
        QCOMPARE(line.value(QStringLiteral("phase")).toString(), phase);
        QCOMPARE(line.value(QStringLiteral("total")).toInt(), total);
        const int done = line.value(QStringLiteral("done")).toInt();
        const int percent = line.value(QStringLiteral("percent")).toInt();
        QVERIFY(done > lastDone && done <= total);
        QVERIFY(percent > lastPercent && percent <= 100);
        QCOMPARE(percent, done * 100 / total);
        lastDone = done;
        lastPercent = percent;
    }
    QCOMPARE(seen, phases);

    const QJsonObject end = lines.last();
    QCOMPARE(end.value(QStringLiteral("event")).toString(), QStringLiteral("result"));
    QCOMPARE(end.value(QStringLiteral("target")).toString(), target);
    QCOMPARE(end.value(QStringLiteral("file")).toString(), path);
    QCOMPARE(end.value(QStringLiteral("result")).toString(), result);
    QCOMPARE(end.value(QStringLiteral("exitCode")).toInt(-1), exitCode);
    QVERIFY(end.value(QStringLiteral("seconds")).toDouble(-1) >= 0);
    const QByteArray image = target == QLatin1String("panel") ? panelImage : boardImage;
    const int covered = target == QLatin1String("panel") ? 262144 : 32256;
    QCOMPARE(
        end.value(QStringLiteral("sha256")).toString(),
        QString::fromLatin1(
            QCryptographicHash::hash(image.left(covered), QCryptographicHash::Sha256).toHex()));
    QCOMPARE(end.value(QStringLiteral("usedPages")).toInt(),
             target == QLatin1String("panel") ? 1604 : 96);
}

QTEST_GUILESS_MAIN(JsonProgressTest)
#include "tst_jsonprogress.moc"
