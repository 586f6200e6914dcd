#include "UnitFollower.h"

#include "Elapsed.h"

#include <algorithm>

std::vector<AttachedUnit> UnitFollower::look()
{
    std::vector<AttachedUnit> units = attachedUnits();
    const double at = millisecondsSince(*clock);
    noted.lookMs = std::max(noted.lookMs, at - now);
    now = at;
    return units;
}

// The first ControlPanel to come up elsewhere while the unit is away may be the unit itself.
void UnitFollower::noteNewcomers(const std::vector<AttachedUnit> &units, const std::string &port)
{
    for (const AttachedUnit &unit : units)
        if (unit.port != port && !known.count(unit.path) && !noted.elsewhere)
            noted.elsewhere = unit;
}

FollowResult UnitFollower::follow(const AttachedUnit &before, const QElapsedTimer &sinceEcho)
{
    clock = &sinceEcho;
    now = millisecondsSince(sinceEcho);
    if (announced)
        announced->phaseBegins(UpdatePhase::AwaitingDeparture, 0);
    std::vector<AttachedUnit> units = look();
    for (const AttachedUnit &unit : units)
        known.insert(unit.path);
    for (;;) {
        const std::optional<AttachedUnit> at = unitAtPort(units, before.port);
        if (!at || at->path != before.path)
            break;
        if (now >= timeouts.departureMs)
            return FollowResult::NeverLeft;
        pauser.pause(pollMs);
        units = look();
    }
    noted.leftMs = now;

    if (announced)
        announced->phaseBegins(UpdatePhase::AwaitingReturn, 0);
    const double leftAt = now;
    for (;;) {
        noteNewcomers(units, before.port);
        if (const std::optional<AttachedUnit> at = unitAtPort(units, before.port)) {
            if (!noted.backMs)
                noted.backMs = now;
            // The node may be listed before udev has given this user access to it.
            if (!channel.openPath(at->path)) {
                noted.openedMs = millisecondsSince(sinceEcho);
                noted.back = at;
                return FollowResult::Back;
            }
        }
        if (now - leftAt >= timeouts.returnMs) {
            channel.closeChannel();
            return FollowResult::NeverBack;
        }
        pauser.pause(pollMs);
        units = look();
    }
}
