// zelupdate-cli list: every attached ControlPanel and whether this user may open it, the udev rule
// and whether it is in force, and the advice when it is not, as text and as JSON Lines.

#include "AccessSession.h"
#include "CliFixture.h"
#include "CliRun.h"
#include "SimulatedDevices.h"
#include "TestFiles.h"
#include "UpdateTexts.h"

#include <QTemporaryDir>
#include <QtTest>

using sim::PanelAccess;
using sim::SimulatedDevices;

// Who the session is, for the advice when the rule keeps a user out.
enum class Session
{
    AtSeat,
    BeyondSeat,        // SSH, a service: only the group can let it in
    JoinedNotLoggedIn, // listed in the group since this session began
    InGroup,
};

Q_DECLARE_METATYPE(Session)

namespace {

AccessSession accessSession(Session session)
{
    AccessSession facts;
    facts.atSeat = session == Session::AtSeat;
    facts.inGroup = session == Session::InGroup;
    facts.groupListed = session == Session::JoinedNotLoggedIn || session == Session::InGroup;
    facts.user = QStringLiteral("tech");
    return facts;
}

} // namespace

class ListCommandTest : public CliFixture
{
    Q_OBJECT

private slots:

    void list_data();
    void list();
};

void ListCommandTest::list_data()
{
    QTest::addColumn<int>("devices");
    QTest::addColumn<int>("access");
    QTest::addColumn<bool>("ruleInstalled");
    QTest::addColumn<bool>("root");
    QTest::addColumn<Session>("session");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("inForce");
    QTest::addColumn<QStringList>("errLines"); // standard error holds each, in order

    const int open = int(PanelAccess::Open);
    const int denied = int(PanelAccess::NoPermission);
    const Session seat = Session::AtSeat;
    const Session away = Session::BeyondSeat;
    const QString unit = QStringLiteral("1-1 (%1, ZEL ControlPanel), serial number CP1000")
                             .arg(QString::fromStdString(SimulatedDevices::panelPath(0)));
    const QStringList ruleAdvice{
        "The udev rule 70-zelupdate-controlpanel.rules is not installed or not loaded. Install the "
        "zelupdate package, or copy the rule into /etc/udev/rules.d, then run:",
        "  sudo udevadm control --reload", "  sudo udevadm trigger --subsystem-match=hidraw",
        "and plug the ControlPanel in again."};
    const QStringList joinAdvice{
        "The udev rule opens the ControlPanel to the user at this computer's seat and to the "
        "plugdev group, and this session is not at the seat (an SSH session, a service, or no "
        "local seat). Add tech to the group:",
        "  sudo usermod -aG plugdev tech", "then log in again (a service: restart it)."};
    const QStringList noPermission =
        QStringList{unit + QStringLiteral(": this user may not open it.")} + ruleAdvice;
    const QString neither =
        "no: the rule is installed, but this session is neither at the seat nor in the plugdev "
        "group";

    QTest::newRow("usable, rule installed")
        << 1 << open << true << false << seat << 0 << "yes: the ControlPanel opens for this user"
        << QStringList();
    QTest::newRow("usable without the rule")
        << 1 << open << false << false << seat << 0
        << "yes: the ControlPanel opens for this user, though not through the rule"
        << QStringList();
    QTest::newRow("usable as root") << 1 << open << true << true << seat << 0
                                    << "unknown: running as root, which opens the ControlPanel "
                                       "with or without the rule"
                                    << QStringList();
    QTest::newRow("no permission, no rule") << 1 << denied << false << false << seat << 4
                                            << "no: the rule is not installed" << noPermission;
    QTest::newRow("no permission, rule not applied")
        << 1 << denied << true << false << seat << 4
        << "no: the rule is installed but not applied to the attached ControlPanel" << noPermission;
    // Beyond the seat the rule's uaccess cannot apply: only its group can let the user in.
    QTest::newRow("beyond the seat: join the group")
        << 1 << denied << true << false << away << 4 << neither
        << QStringList{unit + QStringLiteral(": this user may not open it.")} + joinAdvice;
    QTest::newRow("beyond the seat, no rule: rule, then group")
        << 1 << denied << false << false << away << 4 << "no: the rule is not installed"
        << noPermission + joinAdvice;
    QTest::newRow("beyond the seat, joined: log in again")
        << 1 << denied << true << false << Session::JoinedNotLoggedIn << 4 << neither
        << QStringList{unit + QStringLiteral(": this user may not open it."),
                       "tech is in the plugdev group, which the udev rule opens the ControlPanel "
                       "to, but this session began before tech joined it: log in again (a "
                       "service: restart it)."};
    QTest::newRow("beyond the seat, in the group: rule not applied")
        << 1 << denied << true << false << Session::InGroup << 4
        << "no: the rule is installed but not applied to the attached ControlPanel" << noPermission;
    QTest::newRow("busy") << 1 << int(PanelAccess::Busy) << true << false << seat << 4
                          << "unknown: the ControlPanel would not open for another reason"
                          << QStringList{unit + QStringLiteral(": another program holds it."),
                                         kBusyAdvice};
    QTest::newRow("none") << 0 << open << true << false << seat << 4
                          << "unknown: no ControlPanel is attached to try"
                          << QStringList{kNoPanelText, kNoPanelAdvice};
    QTest::newRow("two usable") << 2 << open << true << false << seat << 0
                                << "yes: the ControlPanel opens for this user"
                                << QStringList{QStringLiteral("warning: %1: an update takes one "
                                                              "only when --port or --serial "
                                                              "names it")
                                                   .arg(kSeveralPanelsText)};
}

void ListCommandTest::list()
{
    QFETCH(int, devices);
    QFETCH(int, access);
    QFETCH(bool, ruleInstalled);
    QFETCH(bool, root);
    QFETCH(Session, session);
    QFETCH(int, code);
    QFETCH(QString, inForce);
    QFETCH(QStringList, errLines);

    SimulatedDevices &simulated = SimulatedDevices::instance();
    simulated.setDeviceCount(devices);
    if (devices > 0)
        simulated.setPanelAccess(PanelAccess(access));
    QTemporaryDir rules;
    const QString missing = rules.filePath(QStringLiteral("missing"));
    const QString rule = rules.filePath(QStringLiteral("70-zelupdate-controlpanel.rules"));
    if (ruleInstalled)
        QVERIFY(writeFile(rule, "SUBSYSTEM==\"hidraw\"\n"));
    CliSetup setup;
    setup.udevRuleFolders = QStringList{missing, rules.path()};
    setup.runningAsRoot = root;
    setup.accessSession = accessSession(session);

    const CliRun run = runCli({QStringLiteral("list")}, setup);
    QCOMPARE(run.code, code);
    QStringList expected;
    const char *accessNames[] = {"usable", "no permission", "busy"};
    for (int device = 0; device < devices; ++device) {
        expected << QStringLiteral("1-%1").arg(device + 1)
                 << QStringLiteral("  hidraw node: %1")
                        .arg(QString::fromStdString(SimulatedDevices::panelPath(device)))
                 << QStringLiteral("  serial number: CP%1").arg(1000 + device)
                 << "  manufacturer: ZEL"
                 << "  product: ControlPanel"
                 << QStringLiteral("  access: %1").arg(accessNames[device == 0 ? access : 0]);
    }
    if (devices == 0)
        expected << "no ControlPanel attached";
    expected << (ruleInstalled ? QStringLiteral("udev rule: ") + rule
                               : QStringLiteral("udev rule: 70-zelupdate-controlpanel.rules is not "
                                                "installed in %1, %2")
                                     .arg(missing, rules.path()))
             << QStringLiteral("udev rule in force: ") + inForce;
    QCOMPARE(run.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts), expected);
    QCOMPARE(run.err.split(QLatin1Char('\n'), Qt::SkipEmptyParts), errLines);
    // Listing never talks to a device, and closes every one it opens.
    QCOMPARE(simulated.reportCount(), 0);
    QCOMPARE(simulated.openHandles(), 0);

    const CliRun json = runCli({QStringLiteral("list"), QStringLiteral("--json")}, setup);
    QCOMPARE(json.code, code);
    bool allParse = false;
    const QList<QJsonObject> objects = jsonLines(json.out, allParse);
    QVERIFY(allParse);
    QCOMPARE(objects.size(), devices + 1);
    for (int device = 0; device < devices; ++device) {
        const QJsonObject &object = objects[device];
        QCOMPARE(object.value(QStringLiteral("port")).toString(),
                 QStringLiteral("1-%1").arg(device + 1));
        // The keys scripts were written against before the port came.
        QCOMPARE(object.value(QStringLiteral("path")).toString(),
                 QString::fromStdString(SimulatedDevices::panelPath(device)));
        QCOMPARE(object.value(QStringLiteral("serialNumber")).toString(),
                 QStringLiteral("CP%1").arg(1000 + device));
    }
    QCOMPARE(objects.last().value(QStringLiteral("exitCode")).toInt(-1), code);
    QCOMPARE(objects.last().value(QStringLiteral("udevRule")).toString(),
             ruleInstalled ? rule : QString());
}

QTEST_GUILESS_MAIN(ListCommandTest)
#include "tst_listcommand.moc"
