// zelupdate-cli-sim probe --restart as a technician runs it, in its own process with the simulated
// devices timed like hardware: the restarts it reports are the ones the devices take, the round
// trips the simulated 1 ms, and neither flash file changes by a byte.

#include "TestFiles.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A flash file as an earlier update might have left it: no two neighbouring bytes alike.
QByteArray pattern(int size, int step)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int at = 0; at < size; ++at)
        bytes[at] = char(at * step);
    return bytes;
}

} // namespace

class CliProbeTest : public QObject
{
    Q_OBJECT

private slots:
    void restartTimes_data();
    void restartTimes();
};

void CliProbeTest::restartTimes_data()
{
    QTest::addColumn<int>("restartMs");
    // Well inside the window's 3 s wait, and beyond it.
    QTest::newRow("1.5 s") << 1500;
    QTest::newRow("4 s") << 4000;
}

void CliProbeTest::restartTimes()
{
    QFETCH(int, restartMs);

    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const QString unit = folder.filePath(QStringLiteral("flash/1-1"));
    QVERIFY(QDir().mkpath(unit));
    const QByteArray panel = pattern(262144, 7);
    const QByteArray board = pattern(32768, 13);
    QVERIFY(writeFile(unit + QStringLiteral("/controlpanel.bin"), panel));
    QVERIFY(writeFile(unit + QStringLiteral("/controlboard.bin"), board));

    QProcess cli;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"),
                       folder.filePath(QStringLiteral("flash")));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QString::number(restartMs));
    environment.insert(QStringLiteral("XDG_STATE_HOME"), folder.filePath(QStringLiteral("state")));
    environment.insert(QStringLiteral("ZELUPDATE_LOCK_DIR"),
                       folder.filePath(QStringLiteral("lock")));
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(ZELUPDATE_CLI_SIM),
              {QStringLiteral("probe"), QStringLiteral("--restart"), QStringLiteral("--yes"),
               QStringLiteral("--json")});
    QVERIFY(cli.waitForFinished(60000));
    const QByteArray err = cli.readAllStandardError();
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == 0, err.constData());

    QJsonParseError error;
    const QJsonObject report =
        QJsonDocument::fromJson(cli.readAllStandardOutput(), &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    for (const char *name : {"toBootloader", "toApplication"}) {
        const QJsonObject trip = report[QLatin1String(name)].toObject();
        for (const char *time : {"backMs", "openedMs"}) {
            const double measured = trip[QLatin1String(time)].toDouble();
            QVERIFY2(measured >= 0.8 * restartMs && measured <= 1.2 * restartMs,
                     qPrintable(QStringLiteral("%1.%2: %3 ms").arg(name, time).arg(measured)));
        }
    }
    const double median =
        report[QStringLiteral("roundTripMs")][QStringLiteral("median")].toDouble();
    QVERIFY2(median >= 0.5 && median <= 5, qPrintable(QString::number(median)));

    QVERIFY(readFile(unit + QStringLiteral("/controlpanel.bin")) == panel);
    QVERIFY(readFile(unit + QStringLiteral("/controlboard.bin")) == board);
    // Back in its application, where the next program finds it.
    QCOMPARE(readFile(unit + QStringLiteral("/state")).trimmed(), QByteArray("application"));
}

QTEST_GUILESS_MAIN(CliProbeTest)
#include "tst_cli_probe.moc"
