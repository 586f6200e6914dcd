#include "RestartFollowing.h"

#include <QElapsedTimer>

namespace {

bool stillThere(const AttachedUnit &before)
{
    const std::optional<AttachedUnit> now = unitAtPort(attachedUnits(), before.port);
    return now && now->path == before.path;
}

// Looks until `done` holds or the time-out has passed; true when it held. Time is the clock's:
// a host whose pauses do not sleep only looks more often.
template <typename Condition> bool lookUntil(SequenceHost &host, int timeoutMs, Condition done)
{
    QElapsedTimer clock;
    clock.start();
    for (;;) {
        if (done())
            return true;
        if (clock.elapsed() >= timeoutMs)
            return false;
        host.pause(kFollowPollMs);
    }
}

} // namespace

FollowResult followRestart(SequenceHost &host, UpdateProgress &progress, CommandChannel &channel,
                           const AttachedUnit &before, const RestartFollowing &timing)
{
    progress.phaseBegins(UpdatePhase::AwaitingDeparture, 0);
    if (!lookUntil(host, timing.departureTimeoutMs, [&] { return !stillThere(before); }))
        return FollowResult::NeverLeft;

    progress.phaseBegins(UpdatePhase::AwaitingReturn, 0);
    // The node may appear before udev has given this user access to it: opening is retried.
    const bool back = lookUntil(host, timing.returnTimeoutMs, [&] {
        const std::optional<AttachedUnit> unit = unitAtPort(attachedUnits(), before.port);
        return unit && !channel.openPath(unit->path);
    });
    if (!back)
        channel.closeChannel();
    return back ? FollowResult::Back : FollowResult::NeverBack;
}
