// Records the conversations of Conversations.cpp against the simulated devices. For each it
// writes, into ZEL_CONVERSATION_DIR, the umockdev script that its replay runs on and the traffic
// and outcome that the replay must reach again (NAME.script, NAME.traffic, NAME.outcome).
#include "Conversations.h"
#include "TrafficText.h"
#include "UmockdevScript.h"

#include <QtTest>

namespace {

class SimulatedEvents : public DeviceEvents
{
public:
    void panelEntersBootloader() override
    {
        sim::SimulatedDevices::instance().setPanelState(sim::PanelState::Bootloader);
    }
    void boardEntersBootloader() override
    {
        sim::SimulatedDevices::instance().enterBoardBootloader();
    }
};

bool writeFile(const QString &path, const std::string &text)
{
    QFile file(path);
    return !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
           file.write(text.data(), static_cast<qint64>(text.size())) !=
               static_cast<qint64>(text.size()) ||
           !file.flush();
}

} // namespace

class RecordTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void record_data();
    void record();
    void everyConversationIsReplayed();

private:
    QDir folder;
};

void RecordTest::initTestCase()
{
    const QString path = qEnvironmentVariable("ZEL_CONVERSATION_DIR");
    QVERIFY2(!path.isEmpty(), "ZEL_CONVERSATION_DIR names the folder for the recordings");
    QVERIFY(QDir().mkpath(path));
    folder = QDir(path);
}

void RecordTest::record_data()
{
    QTest::addColumn<QString>("name");
    for (const Conversation &conversation : conversations())
        QTest::newRow(conversation.name) << QString(conversation.name);
}

void RecordTest::record()
{
    QFETCH(QString, name);
    const Conversation *conversation = findConversation(name.toStdString());
    QVERIFY(conversation);
    // A recording that fails leaves nothing behind for its replay to use.
    for (const char *suffix : {".script", ".traffic", ".outcome"})
        folder.remove(name + suffix);

    sim::SimulatedDevices &devices = sim::SimulatedDevices::instance();
    devices.reset();
    for (const ScheduledFault &scheduled : conversation->faults)
        devices.injectFault(scheduled.trigger, scheduled.fault);
    SimulatedEvents events;
    std::string outcome;
    {
        CommandChannel channel;
        channel.setReplyTimeout(conversation->replyTimeoutMs);
        outcome = conversation->run(channel, events);
    }
    QCOMPARE(QString::fromStdString(verdictsOf(outcome)), QString(conversation->verdicts));

    std::string script;
    std::string error;
    QVERIFY2(!umockdev::scriptFromTraffic(devices.traffic(), script, error, 0,
                                          conversation->replyTimeoutMs),
             error.c_str());
    QVERIFY(!writeFile(folder.filePath(name + ".script"), script));
    QVERIFY(
        !writeFile(folder.filePath(name + ".traffic"), umockdev::formatTraffic(devices.traffic())));
    QVERIFY(!writeFile(folder.filePath(name + ".outcome"), outcome));
}

// CTest registers one replay per name in ZEL_CONVERSATIONS; a conversation missing there would
// be recorded and never replayed.
void RecordTest::everyConversationIsReplayed()
{
    QStringList recorded;
    for (const Conversation &conversation : conversations())
        recorded << conversation.name;
    const QStringList replayed = qEnvironmentVariable("ZEL_CONVERSATIONS").split(',');
    QCOMPARE(replayed, recorded);
}

QTEST_GUILESS_MAIN(RecordTest)
#include "tst_hidraw_record.moc"
