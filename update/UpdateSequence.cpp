#include "UpdateSequence.h"

#include "ConnectionAdvice.h"
#include "ControlPanelSurvey.h"
#include "HexFile.h"
#include "UpdateHistory.h"
#include "UpdateTexts.h"

#include <QElapsedTimer>

#include <memory>

namespace {

// The restarts take up to this long: the ControlPanel's into and out of its bootloader, and the
// control board's into its own.
constexpr int kWaitSteps = 10;
constexpr int kWaitStepMs = 300;

void wait(SequenceHost &host)
{
    for (int step = 1; step <= kWaitSteps; ++step) {
        host.pause(kWaitStepMs);
        host.waitStep(step);
    }
}

// The wait indicator goes with the sequence, however it ends.
class WaitSession
{
public:
    WaitSession(SequenceHost &host, const char *label) : host(host)
    {
        host.phaseChanged(UpdatePhase::Waiting);
        host.startWait(QString::fromLatin1(label), kWaitSteps);
    }
    ~WaitSession() { host.finishWait(); }
    WaitSession(const WaitSession &) = delete;
    WaitSession &operator=(const WaitSession &) = delete;

private:
    SequenceHost &host;
};

// Notes whether a page walk began, passing everything on.
class WalkWatch : public ProgressReporter
{
public:
    explicit WalkWatch(ProgressReporter &next) : next(next) {}

    void start(int maximum) override
    {
        began = true;
        next.start(maximum);
    }
    void step(int value) override { next.step(value); }
    void startVerifying(int value) override { next.startVerifying(value); }
    void finish() override { next.finish(); }

    bool began = false;

private:
    ProgressReporter &next;
};

enum class Opening
{
    Opened,
    NoPanel,
    SeveralPanels,
};

// Opens the channel unless a handle is held. With more than one ControlPanel attached nothing is
// opened: hidapi would take whichever enumerates first, and that may not be the one meant.
Opening openOnlyPanel(CommandChannel &channel)
{
    if (!channel.isOpen() && CommandChannel::attachedControlPanels() > 1)
        return Opening::SeveralPanels;
    return channel.openChannel() ? Opening::NoPanel : Opening::Opened;
}

class Sequence
{
public:
    Sequence(const UpdateTarget &target, CommandChannel &channel, TargetProfile &profile,
             SequenceHost &host)
        : target(target), channel(channel), profile(profile), host(host)
    {
        clock.start();
    }

    SequenceOutcome run()
    {
        runSteps();
        record();
        return outcome;
    }

private:
    SequenceOutcome &runSteps();
    SequenceOutcome &end(SequenceEnd how, const QString &text)
    {
        outcome.end = how;
        outcome.text = text;
        outcome.seconds = double(clock.elapsed()) / 1000;
        return outcome;
    }
    // A message box that ends the sequence.
    SequenceOutcome &endWithMessage(SequenceEnd how, const QString &text)
    {
        host.showMessage(text);
        return end(how, text);
    }
    SequenceEnd programmerEnd(bool writingBegan) const;
    void record();

    const UpdateTarget &target;
    CommandChannel &channel;
    TargetProfile &profile;
    SequenceHost &host;
    QElapsedTimer clock;
    SequenceOutcome outcome;
};

SequenceOutcome &Sequence::runSteps()
{
    const bool panel = target.restartsIntoBootloader;

    switch (openOnlyPanel(channel)) {
    case Opening::Opened:
        break;
    case Opening::NoPanel: {
        // What is attached but will not open says more than the box alone.
        const QString detail = unusablePanelsDetail(surveyControlPanels());
        host.showConnectionError({kNoPanelText, kNoPanelAdvice, detail});
        channel.closeChannel();
        return end(SequenceEnd::NoControlPanel, kNoPanelText);
    }
    case Opening::SeveralPanels:
        host.showConnectionError({kSeveralPanelsText, kSeveralPanelsAdvice, QString()});
        channel.closeChannel();
        return end(SequenceEnd::NoControlPanel, kSeveralPanelsText);
    }
    channel.putCommand(command::kConnectionCheck);
    if (channel.exchange(true)) {
        host.showError(kNoConnectionError);
        return end(SequenceEnd::DeviceNotAnswering, kNoConnectionError);
    }
    profile = target.profile;

    outcome.file = host.chooseHexFile();
    if (outcome.file.isEmpty())
        return end(SequenceEnd::NoFileChosen, QString());
    HexFile file = openHexFile(outcome.file);
    if (!file) {
        host.showError(kHexFileError);
        return end(SequenceEnd::FileRefused, kHexFileError);
    }

    host.phaseChanged(UpdatePhase::EnteringBootloader);
    channel.putCommand(target.entryCommand);
    if (channel.exchange(true)) {
        // The target may or may not have started its bootloader; the user must know either way.
        file.reset();
        channel.closeChannel();
        return endWithMessage(SequenceEnd::DeviceNotAnswering,
                              kErrorPrefix + QString::fromLatin1(kBootloaderEntryError));
    }
    // The ControlPanel leaves the bus to restart into its bootloader.
    if (panel)
        channel.closeChannel();

    auto waitSession = std::make_unique<WaitSession>(host, target.waitLabel);
    wait(host);

    if (panel) {
        if (openOnlyPanel(channel) != Opening::Opened) {
            channel.closeChannel();
            return endWithMessage(SequenceEnd::DeviceNotAnswering, kPanelNotBackText);
        }
    } else {
        channel.putCommand(command::kStart);
        if (channel.exchange(true)) {
            file.reset();
            waitSession.reset();
            channel.closeChannel();
            return endWithMessage(SequenceEnd::DeviceNotAnswering,
                                  kErrorPrefix + QString::fromLatin1(kBootloaderStartError));
        }
    }

    WalkWatch walk(host.progress());
    const UpdateResult result = target.program(channel, profile, file.get(), walk, &outcome.loaded);

    if (panel) {
        // Back to the application whatever the result: a half-written firmware is better
        // reported from a running ControlPanel than left in its bootloader.
        host.phaseChanged(UpdatePhase::LeavingBootloader);
        channel.putCommand(command::kPanelBootloaderExit);
        if (!channel.exchange(true)) {
            channel.closeChannel();
            host.restartWait();
            wait(host);
        }
    }

    SequenceOutcome &ended = result.isEmpty()
                                 ? endWithMessage(SequenceEnd::Updated, target.successText)
                                 : endWithMessage(programmerEnd(walk.began), kErrorPrefix + result);
    if (channel.isOpen())
        channel.closeChannel();
    return ended;
}

SequenceEnd Sequence::programmerEnd(bool writingBegan) const
{
    if (!outcome.loaded.loaded)
        return SequenceEnd::FileRefused;
    return writingBegan ? SequenceEnd::FailedWhileWriting : SequenceEnd::DeviceNotAnswering;
}

void Sequence::record()
{
    if (outcome.file.isEmpty())
        return;
    HistoryEntry entry;
    entry.time = QDateTime::currentDateTime();
    entry.frontEnd = host.frontEnd();
    entry.target = QString::fromLatin1(target.name);
    entry.file = outcome.file;
    entry.sha256 = QString::fromLatin1(outcome.loaded.sha256);
    entry.usedPages = outcome.loaded.usedPages;
    entry.seconds = outcome.seconds;
    entry.result = outcome.text;
    QString why;
    if (appendHistory(entry, why))
        host.historyNotWritten(why);
}

} // namespace

SequenceOutcome runUpdateSequence(const UpdateTarget &target, CommandChannel &channel,
                                  TargetProfile &profile, SequenceHost &host)
{
    return Sequence(target, channel, profile, host).run();
}
