// Records a whole `zelupdate-cli update --target board` on the simulated devices, from the
// connection check to the boot exit, into the umockdev script that the real zelupdate-cli then
// runs against (ZEL_CLI_SCRIPT names the file). The recording must itself succeed and leave the
// example in the board's flash, or no script is written.

#include "CliRun.h"
#include "SimulatedDevices.h"
#include "UmockdevScript.h"

#include <QTemporaryDir>
#include <QtTest>

class CliRecordTest : public QObject
{
    Q_OBJECT

private slots:
    void recordBoardUpdate();
};

void CliRecordTest::recordBoardUpdate()
{
    const QString scriptPath = qEnvironmentVariable("ZEL_CLI_SCRIPT");
    QVERIFY2(!scriptPath.isEmpty(), "ZEL_CLI_SCRIPT names the script to write");
    QFile::remove(scriptPath);
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());

    sim::SimulatedDevices &devices = sim::SimulatedDevices::instance();
    devices.reset();
    const QString example = QStringLiteral(ZELUPDATE_EXAMPLES_DIR "/controlboard-example.hex");
    const CliRun run = runCli(
        {QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("board"), example});
    QCOMPARE(run.code, 0);
    const QByteArray image = objcopyImage(example, int(sim::kBoardFlashSize));
    QVERIFY(!image.isEmpty());
    QVERIFY(QByteArray(reinterpret_cast<const char *>(devices.boardFlash().data()),
                       int(sim::kBoardFlashSize)) == image);

    std::string script;
    std::string error;
    QVERIFY2(!umockdev::scriptFromTraffic(devices.traffic(), script, error), error.c_str());
    QFile file(scriptPath);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(script.data(), qint64(script.size())), qint64(script.size()));
}

QTEST_GUILESS_MAIN(CliRecordTest)
#include "tst_cli_record.moc"
