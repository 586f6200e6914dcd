#include "RestartPolicy.h"

#include "UnitFollower.h"
#include "UpdateRun.h"

void RestartPolicy::awaitBoardBootloader(UpdateRun &run) const
{
    run.fixedWait(UpdatePhase::WaitingForBootloader);
}

RestartResult FixedWaits::awaitPanel(UpdateRun &run, const AttachedUnit &before,
                                     RestartLeg leg) const
{
    if (leg == RestartLeg::IntoApplication) {
        run.fixedWait(UpdatePhase::WaitingForApplication);
        return {RestartEnd::Waited};
    }
    run.fixedWait(UpdatePhase::WaitingForBootloader);
    // Only the unit the update began with: another ControlPanel may have been plugged in
    // meanwhile, and hidapi would as soon take that one. A unit whose port is unknown is opened
    // by its ids, as hidapi finds it.
    const std::optional<AttachedUnit> back = unitAtPort(attachedUnits(), before.port);
    const bool failed = before.port.empty() ? run.channel.openChannel()
                                            : (!back || run.channel.openPath(back->path));
    if (failed) {
        run.channel.closeChannel();
        return {RestartEnd::NotReopened};
    }
    return {RestartEnd::Back};
}

RestartResult FollowAtPort::awaitPanel(UpdateRun &run, const AttachedUnit &before, RestartLeg) const
{
    QElapsedTimer sinceEcho;
    sinceEcho.start();
    UnitFollower follower(run.host, run.channel, timeouts, kFollowPollMs);
    follower.announceTo(run.progress);
    switch (follower.follow(before, sinceEcho)) {
    case FollowResult::Back:
        return {RestartEnd::Back};
    case FollowResult::NeverLeft:
        return {RestartEnd::NeverLeft, timeouts.departureMs};
    case FollowResult::NeverBack:
        break;
    }
    return {RestartEnd::NeverBack, timeouts.returnMs};
}
