#include "UpdateSequence.h"

#include "PageWalk.h"

#include <QFile>
#include <QThread>

namespace {

// The restarts take up to this long: the ControlPanel's into and out of its bootloader, and the
// control board's into its own.
constexpr int kWaitSteps = 10;
constexpr unsigned long kWaitStepMs = 300;

constexpr const char *kErrorPrefix = "An error occured during firmware update\n";

void wait(SequenceHost &host)
{
    for (int step = 1; step <= kWaitSteps; ++step) {
        QThread::msleep(kWaitStepMs);
        host.waitStep(step);
    }
}

// The HEX file is closed on every path out of the sequence once it is open.
struct FileCloser
{
    void operator()(std::FILE *file) const { std::fclose(file); }
};
using OpenFile = std::unique_ptr<std::FILE, FileCloser>;

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

} // namespace

void runUpdateSequence(UpdateTarget target, CommandChannel &channel, TargetProfile &profile,
                       SequenceHost &host)
{
    const bool panel = target == UpdateTarget::ControlPanel;

    if (channel.openChannel()) {
        host.showConnectionError();
        return;
    }
    putCommand(channel, 'E', 'e');
    if (channel.exchange(true)) {
        host.showError("Error: Can't connect to ControlPanel");
        return;
    }
    profile = panel ? kControlPanelProfile : kControlBoardProfile;

    const QString name = host.chooseHexFile();
    if (name.isEmpty())
        return;
    // The name goes to fopen in the file system's own encoding, so any name the user could
    // pick can be opened.
    OpenFile file(std::fopen(QFile::encodeName(name).constData(), "r"));
    if (!file) {
        host.showError("Error: Can't open hex file");
        return;
    }

    if (panel)
        putCommand(channel, 'B', 'b');
    else
        putCommand(channel, 'K', 'k');
    if (channel.exchange(true)) {
        channel.closeChannel();
        return;
    }
    // The ControlPanel leaves the bus to restart into its bootloader.
    if (panel)
        channel.closeChannel();

    WaitSession waitSession(host, panel ? "Wait..." : "Wait for zel02 bootloader...");
    wait(host);

    if (panel) {
        if (channel.openChannel()) {
            channel.closeChannel();
            host.showMessage("Could not update ControlPanel firmware.");
            return;
        }
    } else {
        putCommand(channel, 'C', 'c');
        if (channel.exchange(true)) {
            channel.closeChannel();
            return;
        }
    }

    const UpdateResult result = host.program(target, file.get());

    if (panel) {
        // Back to the application whatever the result: a half-written firmware is better
        // reported from a running ControlPanel than left in its bootloader.
        putCommand(channel, 'b', 'B');
        if (!channel.exchange(true)) {
            channel.closeChannel();
            host.restartWait();
            wait(host);
        }
    }

    if (result.isEmpty())
        host.showMessage(panel ? "The ControlPanel firmware has been updated"
                               : "The ZEL02 firmware has been updated");
    else
        host.showMessage(kErrorPrefix + result);

    if (channel.isOpen())
        channel.closeChannel();
}
