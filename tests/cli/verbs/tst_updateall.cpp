// update --all: zelupdate-cli-sim with several units, each updated by a worker process of its own,
// summed up in port order; signals to it, units it cannot tell apart, and what it hands on.

#include "CliFixture.h"
#include "CliRun.h"
#include "CliTexts.h"
#include "SimulatedDevices.h"
#include "TestFiles.h"
#include "UpdateTexts.h"

#include <QJsonArray>
#include <QProcess>
#include <QRegularExpression>
#include <QtTest>

#include <unistd.h>

#include <csignal>

using sim::SimulatedDevices;

class UpdateAllTest : public CliFixture
{
    Q_OBJECT

private slots:

    void allWithoutUnits();
    void allUnitsProcesses();
    void allUnitsSignalled_data();
    void allUnitsSignalled();
    void allUnitsHandOn();
    void allUnitsWithoutPorts();
    void allUnitsOneImage();
};

void UpdateAllTest::allWithoutUnits()
{
    SimulatedDevices::instance().setDeviceCount(0);
    const CliRun run =
        runCli({QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
                QStringLiteral("--all"), QStringLiteral("--json"), file(QStringLiteral("panel"))});
    QCOMPARE(run.code, 4);
    bool parse = false;
    const QList<QJsonObject> events = jsonLines(run.out, parse);
    QVERIFY(parse);
    QCOMPARE(events.size(), 1);
    QCOMPARE(events[0].value(QStringLiteral("event")).toString(), QStringLiteral("summary"));
    QCOMPARE(events[0].value(QStringLiteral("units")).toArray().size(), 0);
    QCOMPARE(events[0].value(QStringLiteral("exitCode")).toInt(), 4);
    QVERIFY2(run.err.contains(QStringLiteral("No ControlPanel is attached")), qPrintable(run.err));
}

// update --all as a user runs it: zelupdate-cli-sim with four units at hardware speed, each
// updated by a worker process of its own from a short file, one of them failing its read-back.
void UpdateAllTest::allUnitsProcesses()
{
    const QStringList ports{"1-1", "1-2", "1-3", "1-4"};
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString flash = folder.filePath(QStringLiteral("all-flash"));
    const QString state = folder.filePath(QStringLiteral("all-state"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), flash);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), state);
    // Listed out of order: the summary is in port order all the same.
    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-3,1-2,1-4"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QStringLiteral("100"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_FAULTS"),
                       QStringLiteral("corrupt-read-back@Rr:3@1-3"));
    QProcess cli;
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(ZELUPDATE_CLI_SIM),
              {QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
               QStringLiteral("--all"), QStringLiteral("--json"),
               file(QStringLiteral("short panel"))});
    QVERIFY(cli.waitForFinished(120000));
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == 1, qPrintable(err));

    bool parse = false;
    const QList<QJsonObject> events =
        jsonLines(QString::fromUtf8(cli.readAllStandardOutput()), parse);
    QVERIFY(parse);
    QVERIFY(!events.isEmpty());
    for (const QJsonObject &event : events.mid(0, events.size() - 1)) {
        const QString port = event.value(QStringLiteral("port")).toString();
        QVERIFY(ports.contains(port));
        QCOMPARE(event.value(QStringLiteral("serial")).toString(),
                 QStringLiteral("CP100%1").arg(QStringLiteral("1324").indexOf(port.back())));
    }
    const QJsonObject summary = events.last();
    QCOMPARE(summary.value(QStringLiteral("event")).toString(), QStringLiteral("summary"));
    QCOMPARE(summary.value(QStringLiteral("exitCode")).toInt(), 1);
    const QJsonArray units = summary.value(QStringLiteral("units")).toArray();
    QCOMPARE(units.size(), 4);
    for (int at = 0; at < units.size(); ++at) {
        const QJsonObject unit = units[at].toObject();
        const QString port = ports[at];
        QCOMPARE(unit.value(QStringLiteral("port")).toString(), port);
        const bool failing = port == QLatin1String("1-3");
        QCOMPARE(unit.value(QStringLiteral("exitCode")).toInt(), failing ? 1 : 0);
        const QString result = unit.value(QStringLiteral("result")).toString();
        QVERIFY2(result.contains(QStringLiteral("Error: Address 0x000c0")) == failing,
                 qPrintable(result));
        QVERIFY(unit.value(QStringLiteral("seconds")).toDouble() > 0);
        const QByteArray written =
            readFile(flash + QLatin1Char('/') + port + QStringLiteral("/controlpanel.bin"));
        // The failing unit's flash is whole: only what it sent back was altered.
        QVERIFY2(failing || written == shortPanelImage, qPrintable(port));
    }
    // Each worker added its own unit's line to the history.
    QStringList historyPorts;
    for (const QString &line :
         QString::fromUtf8(readFile(state + QStringLiteral("/zelUpdate/history.tsv")))
             .split(QLatin1Char('\n'), Qt::SkipEmptyParts)
             .mid(1))
        historyPorts << line.split(QLatin1Char('\t')).value(8);
    historyPorts.sort();
    QCOMPARE(historyPorts, ports);
}

void UpdateAllTest::allUnitsSignalled_data()
{
    QTest::addColumn<int>("signal");
    // Sent to the program's whole process group, as a terminal sends a key's signal.
    QTest::addColumn<bool>("toGroup");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("result"); // each unit's result contains it
    QTest::addColumn<int>("warnings");   // Ctrl-C's warning, as often

    const QString interrupted = QStringLiteral("Interrupted");
    const QString updated = QString::fromLatin1(kPanelUpdatedText);
    // Each unit's update stops at a page as a single update does; the program sums them up.
    QTest::newRow("SIGTERM to the program") << int(SIGTERM) << false << 1 << interrupted << 0;
    QTest::newRow("SIGTERM to the group") << int(SIGTERM) << true << 1 << interrupted << 0;
    QTest::newRow("Ctrl-\\ at the terminal") << int(SIGQUIT) << true << 1 << interrupted << 0;
    // One Ctrl-C only warns each unit, once: it reaches each through the program alone.
    QTest::newRow("Ctrl-C at the terminal") << int(SIGINT) << true << 0 << updated << 2;
    QTest::newRow("SIGINT to the program") << int(SIGINT) << false << 0 << updated << 2;
}

// A signal to update --all, or to its whole process group, reaches every unit's update once.
void UpdateAllTest::allUnitsSignalled()
{
    QFETCH(int, signal);
    QFETCH(bool, toGroup);
    QFETCH(int, code);
    QFETCH(QString, result);
    QFETCH(int, warnings);

    // An update the signal does not stop runs to its end, and a short file keeps it short; one
    // the signal stops needs a walk long enough to land in.
    const QString fileKey = code == 0 ? QStringLiteral("short panel") : QStringLiteral("panel");
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString work =
        folder.filePath(QStringLiteral("signalled-%1-%2").arg(signal).arg(toGroup));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), work);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), work);
    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-2"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QStringLiteral("100"));
    QProcess cli;
    cli.setProcessEnvironment(environment);
    // setsid makes the program lead a process group of its own, as a shell makes a job.
    cli.start(QStringLiteral("setsid"),
              {QStringLiteral(ZELUPDATE_CLI_SIM), QStringLiteral("update"),
               QStringLiteral("--target"), QStringLiteral("panel"), QStringLiteral("--all"),
               QStringLiteral("--json"), file(fileKey)});
    QByteArray out;
    while (out.count("\"phase\":\"writing\"") < 2 && cli.waitForReadyRead(30000))
        out += cli.readAllStandardOutput();
    QCOMPARE(out.count("\"phase\":\"writing\""), 2);
    const pid_t program = pid_t(cli.processId());
    QCOMPARE(::getpgid(program), program);
    QCOMPARE(::kill(toGroup ? -program : program, signal), 0);
    QVERIFY(cli.waitForFinished(60000));
    out += cli.readAllStandardOutput();
    const QByteArray err = cli.readAllStandardError();
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == code, err.constData());
    QCOMPARE(err.count("Stopping now leaves the firmware incomplete"), warnings);
    bool parse = false;
    const QList<QJsonObject> events = jsonLines(QString::fromUtf8(out), parse);
    QVERIFY(parse);
    const QJsonArray units = events.last().value(QStringLiteral("units")).toArray();
    QCOMPARE(units.size(), 2);
    for (const QJsonValue &unit : units) {
        QCOMPARE(unit.toObject().value(QStringLiteral("exitCode")).toInt(), code);
        QVERIFY2(unit.toObject().value(QStringLiteral("result")).toString().contains(result),
                 qPrintable(unit.toObject().value(QStringLiteral("result")).toString()));
    }
}

// What update --all hands each worker reaches it: a file named like an option stays a file,
// --allow-no-eof and the time-outs are passed on, and the summary table keeps each unit's serial
// number and the warnings its worker gave.
void UpdateAllTest::allUnitsHandOn()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString work = folder.filePath(QStringLiteral("hand-on"));
    QVERIFY(QDir().mkpath(work));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), work);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), work);
    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-2"));
    // Longer than the time-out handed on: every unit's update ends waiting for its return.
    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QStringLiteral("2500"));
    QList<QByteArray> lines = readFile(file(QStringLiteral("panel"))).split('\n');
    while (!lines.isEmpty() && !lines.last().startsWith(":0000000"))
        lines.removeLast();
    lines.removeLast(); // the end-of-file record
    const QString name = QStringLiteral("--json");
    QVERIFY(writeFile(work + QLatin1Char('/') + name, lines.join('\n') + '\n'));
    QProcess cli;
    cli.setProcessEnvironment(environment);
    cli.setWorkingDirectory(work);
    cli.start(QStringLiteral(ZELUPDATE_CLI_SIM),
              {QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
               QStringLiteral("--all"), QStringLiteral("--allow-no-eof"),
               QStringLiteral("--restart-timeout"), QStringLiteral("1"), QStringLiteral("--"),
               name});
    QVERIFY(cli.waitForFinished(60000));
    const QString out = QString::fromUtf8(cli.readAllStandardOutput());
    const QString err = QString::fromUtf8(cli.readAllStandardError());
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QVERIFY2(cli.exitCode() == 5, qPrintable(err));
    for (const QString &unit : {QStringLiteral("1-1 +CP1000"), QStringLiteral("1-2 +CP1001")})
        QVERIFY2(QRegularExpression(QStringLiteral("\n") + unit +
                                    QStringLiteral(" +failed \\(exit code 5\\): The ControlPanel "
                                                   ".* did not come back within 1 s .* / warning: "
                                                   "no end-of-file record"))
                     .match(out)
                     .hasMatch(),
                 qPrintable(out));
}

// Units whose USB port cannot be found are each left alone, however many: an empty port names no
// unit, so two of them are never taken for one.
void UpdateAllTest::allUnitsWithoutPorts()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString work = folder.filePath(QStringLiteral("portless"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), work);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), work);
    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-2,1-3"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_PORTLESS"), QStringLiteral("1-1,1-3"));
    // The unit with a port is updated as any other: quickly, from a short file.
    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QStringLiteral("100"));
    QProcess cli;
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(ZELUPDATE_CLI_SIM),
              {QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
               QStringLiteral("--all"), QStringLiteral("--json"),
               file(QStringLiteral("short panel"))});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 4);
    bool parse = false;
    const QList<QJsonObject> events =
        jsonLines(QString::fromUtf8(cli.readAllStandardOutput()), parse);
    QVERIFY(parse);
    const QJsonArray units = events.last().value(QStringLiteral("units")).toArray();
    QStringList results;
    for (const QJsonValue &unit : units)
        results << QStringLiteral("%1 %2: %3")
                       .arg(unit[QStringLiteral("port")].toString(),
                            unit[QStringLiteral("serial")].toString(),
                            unit[QStringLiteral("result")].toString());
    const QString portless = QString::fromLatin1(kPortlessPanelText);
    QCOMPARE(results, (QStringList{QStringLiteral(" CP1000: ") + portless,
                                   QStringLiteral(" CP1002: ") + portless,
                                   QStringLiteral("1-2 CP1001: ") + kPanelUpdatedText}));
}

// The file replaced once the batch has checked it reaches no unit: every worker writes the image
// the batch checked, never the file as it is by then.
void UpdateAllTest::allUnitsOneImage()
{
    const QString work = folder.filePath(QStringLiteral("one-image"));
    QVERIFY(QDir().mkpath(work));
    const QString hex = work + QStringLiteral("/fw.hex");
    QVERIFY(writeFile(hex, readFile(file(QStringLiteral("short panel")))));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ZELUPDATE_SIM_DIR"), work);
    environment.insert(QStringLiteral("XDG_STATE_HOME"), work);
    environment.insert(QStringLiteral("ZELUPDATE_SIM_UNITS"), QStringLiteral("1-1,1-2"));
    environment.insert(QStringLiteral("ZELUPDATE_SIM_RESTART_MS"), QStringLiteral("100"));
    QProcess cli;
    cli.setProcessEnvironment(environment);
    cli.start(QStringLiteral(ZELUPDATE_CLI_SIM),
              {QStringLiteral("update"), QStringLiteral("--target"), QStringLiteral("panel"),
               QStringLiteral("--all"), hex});
    cli.setReadChannel(QProcess::StandardError);
    QByteArray err;
    while (!err.contains("Updating the ControlPanel") && cli.waitForReadyRead(30000))
        err += cli.readAll();
    QVERIFY2(err.contains("Updating the ControlPanel"), err.constData());
    QVERIFY(writeFile(hex, readFile(file(QStringLiteral("board")))));
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    for (const QString &port : {QStringLiteral("1-1"), QStringLiteral("1-2")})
        QVERIFY2(readFile(work + QLatin1Char('/') + port + QStringLiteral("/controlpanel.bin")) ==
                     shortPanelImage,
                 qPrintable(port));
}

QTEST_GUILESS_MAIN(UpdateAllTest)
#include "tst_updateall.moc"
