// The command table as zelupdate-cli reads a command line: every usage error refused with status 2
// before any device is opened, and the help and version it prints.

#include "CliFixture.h"
#include "CliRun.h"
#include "SimulatedDevices.h"

#include <QRegularExpression>
#include <QtTest>

using sim::SimulatedDevices;

class CommandTableTest : public CliFixture
{
    Q_OBJECT

private slots:

    void usageErrors_data();
    void usageErrors();
    void helpAndVersion();
};

void CommandTableTest::usageErrors_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    const QString hex = kExamples + QStringLiteral("/controlboard-example.hex");
    QTest::newRow("no command") << QStringList() << "no command given";
    QTest::newRow("unknown command") << QStringList{"flash"} << "unknown command 'flash'";
    QTest::newRow("unknown option") << QStringList{"list", "--force"} << "Unknown option 'force'";
    QTest::newRow("no target") << QStringList{"update", hex} << "update needs --target";
    QTest::newRow("unknown target")
        << QStringList{"check", "--target", "pump", hex} << "unknown target 'pump'";
    QTest::newRow("no file") << QStringList{"update", "--target", "board"}
                             << "update needs exactly one HEX file";
    QTest::newRow("two files") << QStringList{"check", "--target", "board", hex, hex}
                               << "check needs exactly one HEX file";
    QTest::newRow("wait for check")
        << QStringList{"check", "--target", "board", "--wait", "3", hex} << "check takes no --wait";
    QTest::newRow("wait not a number")
        << QStringList{"update", "--target", "board", "--wait", "soon", hex}
        << "--wait needs a number of seconds, not 'soon'";
    QTest::newRow("target for list")
        << QStringList{"list", "--target", "panel"} << "list takes no --target";
    QTest::newRow("file for history") << QStringList{"history", hex} << "history takes no file";
    // The last would win: the board's file written into the ControlPanel.
    QTest::newRow("target twice") << QStringList{"update",   "--target", "board",
                                                 "--target", "panel",    hex}
                                  << "--target is given more than once";
    QTest::newRow("target twice, once with =")
        << QStringList{"check", "--target=board", hex, "--target", "board"}
        << "--target is given more than once";
    QTest::newRow("flag twice") << QStringList{"list", "--json", "--json"}
                                << "--json is given more than once";
    QTest::newRow("port and serial")
        << QStringList{"update", "--target", "board", "--serial", "CP1000", "--port", "1-1", hex}
        << "--port and --serial choose the same unit: give one";
    QTest::newRow("yes without restart")
        << QStringList{"probe", "--yes"}
        << "--yes answers the question of --restart: give both or neither";
    QTest::newRow("all with port")
        << QStringList{"update", "--target", "panel", "--all", "--port", "1-1", hex}
        << "--all updates every attached unit: not with --port";
    QTest::newRow("all and each") << QStringList{"update", "--target", "panel",
                                                 "--each", "--all",    hex}
                                  << "--all and --each: give one";
    QTest::newRow("restart timeout not a number")
        << QStringList{"update", "--target", "panel", "--restart-timeout", "0", hex}
        << "--restart-timeout needs a number of seconds from 1 to 3600, not '0'";
    // Counted in milliseconds, these would wrap to -1 s and to 0 s.
    QTest::newRow("restart timeout past an int")
        << QStringList{"update", "--target", "panel", "--restart-timeout", "2147483647", hex}
        << "--restart-timeout needs a number of seconds from 1 to 3600, not '2147483647'";
    QTest::newRow("restart timeout past an int in milliseconds")
        << QStringList{"probe", "--restart-timeout", "4294968"}
        << "--restart-timeout needs a number of seconds from 1 to 3600, not '4294968'";
    QTest::newRow("leave timeout too long")
        << QStringList{"update", "--target", "panel", "--leave-timeout", "3601", hex}
        << "--leave-timeout needs a number of seconds from 1 to 3600, not '3601'";
    // An empty choice would take whichever unit is attached.
    QTest::newRow("empty port") << QStringList{"update", "--target", "board", "--port", "", hex}
                                << "--port needs a USB port";
    QTest::newRow("empty serial") << QStringList{"list", "--serial", ""}
                                  << "--serial needs a serial number";
    QTest::newRow("each with serial")
        << QStringList{"update", "--target", "panel", "--each", "--serial", "CP1000", hex}
        << "--each takes no --serial, --wait or --in-bootloader";
    QTest::newRow("all in bootloader")
        << QStringList{"update", "--target", "panel", "--all", "--in-bootloader", hex}
        << "--all takes no --wait or --in-bootloader";
    QTest::newRow("sha256 not 64 digits")
        << QStringList{"check", "--target", "board", "--sha256", "e12cb916", hex}
        << "--sha256 needs the 64 hexadecimal digits check shows, not 'e12cb916'";
}

void CommandTableTest::usageErrors()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const CliRun run = runCli(arguments);
    QCOMPARE(run.code, 2);
    QVERIFY2(run.err.startsWith(QStringLiteral("zelupdate-cli: ") + message), qPrintable(run.err));
    QVERIFY(run.err.endsWith(QStringLiteral("\nTry 'zelupdate-cli --help'.\n")));
    QCOMPARE(run.out, QString());
    QCOMPARE(SimulatedDevices::instance().openCount(), 0);
}

void CommandTableTest::helpAndVersion()
{
    const CliRun help = runCli({QStringLiteral("--help")});
    QCOMPARE(help.code, 0);
    QVERIFY(help.out.startsWith(QStringLiteral("Usage: zelupdate-cli list")));
    // The exit codes close the help, each with its number.
    const QString codes = help.out.mid(help.out.indexOf(QStringLiteral("\nExit codes:\n")));
    QVERIFY(!codes.isEmpty());
    for (int code = 0; code <= 5; ++code)
        QVERIFY2(codes.contains(QStringLiteral("\n  %1  ").arg(code)), qPrintable(codes));

    const CliRun version = runCli({QStringLiteral("--version")});
    QCOMPARE(version.code, 0);
    QVERIFY(QRegularExpression(QStringLiteral("^zelupdate-cli \\d+\\.\\d+\\.\\d+\n$"))
                .match(version.out)
                .hasMatch());
}

QTEST_GUILESS_MAIN(CommandTableTest)
#include "tst_commandtable.moc"
