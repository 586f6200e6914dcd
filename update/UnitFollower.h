#pragma once

#include "AttachedUnits.h"
#include "CommandChannel.h"
#include "Pause.h"
#include "RestartTiming.h"
#include "UpdateProgress.h"

#include <QElapsedTimer>

#include <optional>
#include <set>
#include <string>
#include <vector>

// How a followed restart ended.
enum class FollowResult
{
    Back,      // at its port again, and opened
    NeverLeft, // still there under its old node when the departure time-out passed
    NeverBack, // gone, and not back at its port (or not openable) within the return time-out
};

// When each change of a followed restart was first seen, in milliseconds from the echo of the
// command that began it. A time not reached is empty.
struct RestartTimes
{
    std::optional<double> leftMs;   // its node gone from the bus
    std::optional<double> backMs;   // listed at its port again
    std::optional<double> openedMs; // opened there
    // The longest time between two looks at the bus: how far the times above may be late.
    double lookMs = 0;
    std::optional<AttachedUnit> back; // as listed when it opened at its port
    // A ControlPanel that came up at another port meanwhile: the unit itself, if its port does
    // not survive the restart.
    std::optional<AttachedUnit> elsewhere;
};

// Follows a ControlPanel at its USB port through the restart its last command began, for both
// the update and the probe: until its node has left the bus (one listed at its port under a new
// node has left and come back between two looks), then until it is listed at its port again and
// opens there. A unit at another port is never taken. The departure time-out counts from the
// command's echo, the return time-out from the departure.
class UnitFollower
{
public:
    UnitFollower(Pause &pause, CommandChannel &channel, const RestartTimeouts &timeouts, int pollMs)
        : pauser(pause), channel(channel), timeouts(timeouts), pollMs(pollMs)
    {
    }

    // Announces AwaitingDeparture and AwaitingReturn to `progress`, when given.
    void announceTo(UpdateProgress &progress) { announced = &progress; }

    // `before` is the unit as it was opened, its channel now closed; `sinceEcho` started when the
    // command was echoed (or its wait ended). On Back the channel holds the unit.
    FollowResult follow(const AttachedUnit &before, const QElapsedTimer &sinceEcho);
    const RestartTimes &times() const { return noted; }

private:
    std::vector<AttachedUnit> look();
    void noteNewcomers(const std::vector<AttachedUnit> &units, const std::string &port);

    Pause &pauser;
    CommandChannel &channel;
    const RestartTimeouts timeouts;
    const int pollMs;
    UpdateProgress *announced = nullptr;
    const QElapsedTimer *clock = nullptr;
    double now = 0;
    std::set<std::string> known; // the nodes on the bus before the restart
    RestartTimes noted;
};
