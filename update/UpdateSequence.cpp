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
        host.progress().advanced(step);
    }
}

// The wait indicator goes with the sequence, however it ends.
class WaitSession
{
public:
    explicit WaitSession(SequenceHost &host) : host(host)
    {
        host.progress().phaseBegins(UpdatePhase::WaitingForBootloader, kWaitSteps);
    }
    ~WaitSession() { host.finishWait(); }
    WaitSession(const WaitSession &) = delete;
    WaitSession &operator=(const WaitSession &) = delete;

private:
    SequenceHost &host;
};

// Passes every announcement on to the front end and keeps the last phase begun, so that the
// sequence knows how far the programmer got when it fails.
class PhaseTracker : public UpdateProgress
{
public:
    explicit PhaseTracker(UpdateProgress &next) : next(next) {}

    void phaseBegins(UpdatePhase begun, int total) override
    {
        phase = begun;
        next.phaseBegins(begun, total);
    }
    void advanced(int done) override { next.advanced(done); }
    void walkEnded() override { next.walkEnded(); }

    UpdatePhase phase = UpdatePhase::Connecting;

private:
    UpdateProgress &next;
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
    SequenceEnd programmerEnd(UpdatePhase reached) const;
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

    host.progress().phaseBegins(UpdatePhase::Connecting, 0);
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

    const ChosenFirmware firmware = host.chooseFirmware();
    outcome.file = firmware.file;
    if (outcome.file.isEmpty())
        return end(SequenceEnd::NoFileChosen, QString());
    // An image handed over was loaded and checked already; otherwise the programmer loads the
    // file once the target is in its bootloader.
    HexFile file;
    if (firmware.image)
        outcome.loaded = firmware.summary;
    else if (!(file = openHexFile(outcome.file))) {
        host.showError(kHexFileError);
        return end(SequenceEnd::FileRefused, kHexFileError);
    }

    host.progress().phaseBegins(UpdatePhase::EnteringBootloader, 0);
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

    auto waitSession = std::make_unique<WaitSession>(host);
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

    PhaseTracker tracker(host.progress());
    const UpdateResult result =
        firmware.image
            ? target.write(channel, profile, *firmware.image, tracker)
            : programHexFile(target, channel, profile, file.get(), tracker, &outcome.loaded);

    if (panel) {
        // Back to the application whatever the result: a half-written firmware is better
        // reported from a running ControlPanel than left in its bootloader.
        host.progress().phaseBegins(UpdatePhase::LeavingBootloader, 0);
        channel.putCommand(command::kPanelBootloaderExit);
        if (!channel.exchange(true)) {
            channel.closeChannel();
            host.progress().phaseBegins(UpdatePhase::WaitingForApplication, kWaitSteps);
            wait(host);
        }
    }

    SequenceOutcome &ended =
        result.isEmpty() ? endWithMessage(SequenceEnd::Updated, target.successText)
                         : endWithMessage(programmerEnd(tracker.phase), kErrorPrefix + result);
    if (channel.isOpen())
        channel.closeChannel();
    return ended;
}

SequenceEnd Sequence::programmerEnd(UpdatePhase reached) const
{
    // The entry command was sent before the loader refused the file.
    if (!outcome.loaded.loaded)
        return SequenceEnd::FileRefusedInBootloader;
    return reached >= UpdatePhase::Writing ? SequenceEnd::FailedWhileWriting
                                           : SequenceEnd::DeviceNotAnswering;
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
    const QString why = appendHistory(entry);
    if (!why.isEmpty())
        host.historyNotWritten(why);
}

} // namespace

SequenceOutcome runUpdateSequence(const UpdateTarget &target, CommandChannel &channel,
                                  TargetProfile &profile, SequenceHost &host)
{
    return Sequence(target, channel, profile, host).run();
}
