// Replays a recorded conversation (see tst_hidraw_record.cpp) against the real hidapi under
// umockdev-run, which answers from the recording's script. The replay must reach the recorded
// outcome and the recorded traffic, byte for byte, time-outs included; since the script was made
// from that traffic, equal traffic also means the script was followed to its end.
#include "Conversations.h"
#include "HidapiTap.h"
#include "TrafficText.h"

#include <QtTest>

namespace {

class ReplayedEvents : public DeviceEvents
{
public:
    // The script already answers as the bootloader.
    void panelEntersBootloader() override {}
    void boardEntersBootloader() override {}
};

bool readFile(const QString &path, std::string &text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return true;
    text = file.readAll().toStdString();
    return false;
}

} // namespace

class ReplayTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void replay_data();
    void replay();

private:
    QDir folder;
};

void ReplayTest::initTestCase()
{
    QVERIFY2(!qEnvironmentVariableIsEmpty("UMOCKDEV_DIR"),
             "run under umockdev-run with the emulated ControlPanel, as CTest does");
    const QString path = qEnvironmentVariable("ZEL_CONVERSATION_DIR");
    QVERIFY2(!path.isEmpty(), "ZEL_CONVERSATION_DIR names the folder of the recordings");
    folder = QDir(path);
}

void ReplayTest::replay_data()
{
    QTest::addColumn<QString>("name");
    for (const Conversation &conversation : conversations())
        QTest::newRow(conversation.name) << QString(conversation.name);
}

void ReplayTest::replay()
{
    QFETCH(QString, name);
    const Conversation *conversation = findConversation(name.toStdString());
    QVERIFY(conversation);
    std::string recordedOutcome;
    std::string trafficText;
    QVERIFY(!readFile(folder.filePath(name + ".outcome"), recordedOutcome));
    QVERIFY(!readFile(folder.filePath(name + ".traffic"), trafficText));
    std::vector<sim::TrafficRecord> recorded;
    std::string error;
    QVERIFY2(!umockdev::parseTraffic(trafficText, recorded, error), error.c_str());

    tap::log() = {};
    ReplayedEvents events;
    std::string outcome;
    {
        CommandChannel channel;
        channel.setReplyTimeout(conversation->replyTimeoutMs);
        outcome = conversation->run(channel, events);
    }

    const QStringList steps = QString::fromStdString(outcome).split('\n');
    const QStringList recordedSteps = QString::fromStdString(recordedOutcome).split('\n');
    for (int i = 0; i < std::min(steps.size(), recordedSteps.size()); ++i)
        QCOMPARE(steps[i], recordedSteps[i]);
    QCOMPARE(steps.size(), recordedSteps.size());

    const std::vector<sim::TrafficRecord> &traffic = tap::log().traffic;
    for (std::size_t i = 0; i < std::min(traffic.size(), recorded.size()); ++i) {
        const std::string replayed = umockdev::formatRecord(traffic[i]);
        const std::string expected = umockdev::formatRecord(recorded[i]);
        QVERIFY2(replayed == expected, ("record " + std::to_string(i) + ": replayed " + replayed +
                                        ", recorded " + expected)
                                           .c_str());
    }
    QCOMPARE(traffic.size(), recorded.size());
}

QTEST_GUILESS_MAIN(ReplayTest)
#include "tst_hidraw_replay.moc"
