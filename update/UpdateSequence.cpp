#include "UpdateSequence.h"

#include "HexFile.h"
#include "UpdateTexts.h"

#include <QThread>

namespace {

// The restarts take up to this long: the ControlPanel's into and out of its bootloader, and the
// control board's into its own.
constexpr int kWaitSteps = 10;
constexpr unsigned long kWaitStepMs = 300;

void wait(SequenceHost &host)
{
    for (int step = 1; step <= kWaitSteps; ++step) {
        QThread::msleep(kWaitStepMs);
        host.waitStep(step);
    }
}

// The wait indicator goes with the sequence, however it ends.
class WaitSession
{
public:
    WaitSession(SequenceHost &host, const QString &label) : host(host) { host.startWait(label); }
    ~WaitSession() { host.finishWait(); }
    WaitSession(const WaitSession &) = delete;
    WaitSession &operator=(const WaitSession &) = delete;

private:
    SequenceHost &host;
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

} // namespace

void runUpdateSequence(UpdateTarget target, CommandChannel &channel, TargetProfile &profile,
                       SequenceHost &host)
{
    const bool panel = target == UpdateTarget::ControlPanel;

    switch (openOnlyPanel(channel)) {
    case Opening::Opened:
        break;
    case Opening::NoPanel:
        host.showConnectionError(kNoPanelText, kNoPanelAdvice);
        channel.closeChannel();
        return;
    case Opening::SeveralPanels:
        host.showConnectionError(kSeveralPanelsText, kSeveralPanelsAdvice);
        channel.closeChannel();
        return;
    }
    channel.putCommand('E', 'e');
    if (channel.exchange(true)) {
        host.showError(kNoConnectionError);
        return;
    }
    profile = panel ? kControlPanelProfile : kControlBoardProfile;

    const QString name = host.chooseHexFile();
    if (name.isEmpty())
        return;
    HexFile file = openHexFile(name);
    if (!file) {
        host.showError(kHexFileError);
        return;
    }

    if (panel)
        channel.putCommand('B', 'b');
    else
        channel.putCommand('K', 'k');
    if (channel.exchange(true)) {
        // The target may or may not have started its bootloader; the user must know either way.
        file.reset();
        channel.closeChannel();
        host.showMessage(kErrorPrefix + QString::fromLatin1(kBootloaderEntryError));
        return;
    }
    // The ControlPanel leaves the bus to restart into its bootloader.
    if (panel)
        channel.closeChannel();

    auto waitSession =
        std::make_unique<WaitSession>(host, panel ? kPanelWaitLabel : kBoardWaitLabel);
    wait(host);

    if (panel) {
        if (openOnlyPanel(channel) != Opening::Opened) {
            channel.closeChannel();
            host.showMessage(kPanelNotBackText);
            return;
        }
    } else {
        channel.putCommand('C', 'c');
        if (channel.exchange(true)) {
            file.reset();
            waitSession.reset();
            channel.closeChannel();
            host.showMessage(kErrorPrefix + QString::fromLatin1(kBootloaderStartError));
            return;
        }
    }

    const UpdateResult result = host.program(target, file.get());

    if (panel) {
        // Back to the application whatever the result: a half-written firmware is better
        // reported from a running ControlPanel than left in its bootloader.
        channel.putCommand('b', 'B');
        if (!channel.exchange(true)) {
            channel.closeChannel();
            host.restartWait();
            wait(host);
        }
    }

    if (result.isEmpty())
        host.showMessage(panel ? kPanelUpdatedText : kBoardUpdatedText);
    else
        host.showMessage(kErrorPrefix + result);

    if (channel.isOpen())
        channel.closeChannel();
}
