// Records a whole `zelupdate-cli update` on the simulated devices, from the connection check to
// the end, into the umockdev script that the real zelupdate-cli then runs against
// (ZEL_CLI_SCRIPT names the file; ZEL_CLI_HEX the file to write, the target's example when
// unset). The recording must itself succeed and leave objcopy's image of the file in the
// target's flash, or no script is written. Run one row: `tst_cli_record recordUpdate:board`.

#include "CliRun.h"
#include "SimulatedDevices.h"
#include "UmockdevScript.h"

#include <QTemporaryDir>
#include <QtTest>

class CliRecordTest : public QObject
{
    Q_OBJECT

private slots:
    void recordUpdate_data();
    void recordUpdate();
};

void CliRecordTest::recordUpdate_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("example");

    QTest::newRow("board") << "board" << ZELUPDATE_EXAMPLES_DIR "/controlboard-example.hex";
    // Through both of the ControlPanel's restarts, which leave the conversation as it is.
    QTest::newRow("panel") << "panel" << ZELUPDATE_EXAMPLES_DIR "/controlpanel-example.hex";
}

void CliRecordTest::recordUpdate()
{
    QFETCH(QString, target);
    QFETCH(QString, example);

    const QString scriptPath = qEnvironmentVariable("ZEL_CLI_SCRIPT");
    QVERIFY2(!scriptPath.isEmpty(), "ZEL_CLI_SCRIPT names the script to write");
    QFile::remove(scriptPath);
    const QString hexFile = qEnvironmentVariable("ZEL_CLI_HEX", example);
    QTemporaryDir state;
    qputenv("XDG_STATE_HOME", state.path().toUtf8());

    sim::SimulatedDevices &devices = sim::SimulatedDevices::instance();
    devices.reset();
    const CliRun run =
        runCli({QStringLiteral("update"), QStringLiteral("--target"), target, hexFile});
    QVERIFY2(run.code == 0, qPrintable(run.err));
    const bool board = target == QLatin1String("board");
    const QByteArray image =
        objcopyImage(hexFile, int(board ? sim::kBoardFlashSize : sim::kPanelFlashSize));
    QVERIFY(!image.isEmpty());
    const QByteArray flash =
        board ? QByteArray(reinterpret_cast<const char *>(devices.boardFlash().data()),
                           int(sim::kBoardFlashSize))
              : QByteArray(reinterpret_cast<const char *>(devices.panelFlash().data()),
                           int(sim::kPanelFlashSize));
    QVERIFY(flash == image);

    std::string script;
    std::string error;
    QVERIFY2(!umockdev::scriptFromTraffic(devices.traffic(), script, error), error.c_str());
    QFile file(scriptPath);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(script.data(), qint64(script.size())), qint64(script.size()));
}

QTEST_GUILESS_MAIN(CliRecordTest)
#include "tst_cli_record.moc"
