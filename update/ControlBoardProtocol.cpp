#include "TargetProtocol.h"

#include "ProtocolCommands.h"
#include "UpdateRun.h"

bool ControlBoardProtocol::enter(UpdateRun &run) const
{
    // The ControlPanel stays open: it relays to the board's bootloader from now on.
    run.channel.putCommand(command::kBoardBootloaderEntry);
    return !run.channel.exchange(true);
}

BootloaderWait ControlBoardProtocol::awaitBootloader(UpdateRun &run, const RestartPolicy &policy,
                                                     bool alreadyThere) const
{
    if (!alreadyThere)
        policy.awaitBoardBootloader(run);
    BootloaderWait wait;
    run.channel.putCommand(command::kStart);
    wait.startFailed = run.channel.exchange(true);
    wait.ready = !wait.startFailed;
    return wait;
}

ReturnResult ControlBoardProtocol::leave(UpdateRun &, const RestartPolicy &,
                                         const WalkResult &walk) const
{
    // Its programmer's last step is the boot exit, sent only after a faultless read-back.
    switch (walk.end) {
    case WalkEnd::Verified:
        return {Return::Confirmed};
    case WalkEnd::BootExitFailed:
        return {Return::NotConfirmed};
    case WalkEnd::FileRefused:
    case WalkEnd::NotStarted:
    case WalkEnd::WriteFailed:
    case WalkEnd::VerifyFailed:
    case WalkEnd::Mismatch:
    case WalkEnd::Interrupted:
    case WalkEnd::InterruptedBeforeWriting:
        break;
    }
    return {Return::InBootloader};
}
