#include "TargetProtocol.h"

#include "ProtocolCommands.h"
#include "UpdateRun.h"

bool ControlPanelProtocol::enter(UpdateRun &run) const
{
    run.channel.putCommand(command::kPanelBootloaderEntry);
    if (run.channel.exchange(true))
        return false;
    // It leaves the bus to restart into its bootloader.
    run.channel.closeChannel();
    return true;
}

BootloaderWait ControlPanelProtocol::awaitBootloader(UpdateRun &run, const RestartPolicy &policy,
                                                     bool alreadyThere) const
{
    // Its programmer starts the bootloader itself.
    if (alreadyThere)
        return {};
    BootloaderWait wait;
    wait.restart = policy.awaitPanel(run, run.unit, RestartLeg::IntoBootloader);
    wait.ready = wait.restart.end == RestartEnd::Back;
    return wait;
}

ReturnResult ControlPanelProtocol::leave(UpdateRun &run, const RestartPolicy &policy,
                                         const WalkResult &) const
{
    // Back to the application whatever the result: a half-written firmware is better reported
    // from a running ControlPanel than left in its bootloader.
    run.progress.phaseBegins(UpdatePhase::LeavingBootloader, 0);
    run.channel.putCommand(command::kPanelBootloaderExit);
    if (run.channel.exchange(true))
        return {Return::NotConfirmed};
    // The node its bootloader was opened at goes as it restarts; the application's comes back.
    AttachedUnit bootloader = run.unit;
    bootloader.path = run.channel.path();
    run.channel.closeChannel();
    const RestartResult restart = policy.awaitPanel(run, bootloader, RestartLeg::IntoApplication);
    switch (restart.end) {
    case RestartEnd::Waited:
        return {Return::Assumed};
    case RestartEnd::NeverLeft:
        return {Return::NeverLeft, restart.timeoutMs};
    case RestartEnd::NeverBack:
    case RestartEnd::NotReopened:
        return {Return::NeverBack, restart.timeoutMs};
    case RestartEnd::Back:
        break;
    }
    run.progress.phaseBegins(UpdatePhase::ConfirmingApplication, 0);
    run.channel.putCommand(command::kConnectionCheck);
    const bool silent = run.channel.exchange(true);
    run.channel.closeChannel();
    return {silent ? Return::Silent : Return::Confirmed};
}
