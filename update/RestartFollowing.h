#pragma once

#include "AttachedUnits.h"
#include "CommandChannel.h"
#include "SequenceHost.h"

// A fixed wait, as the window keeps it for each restart (and both front ends for the control
// board's bootloader to start): ten steps of 300 ms, then whatever is at the unit's port is
// opened.
constexpr int kFixedWaitSteps = 10;
constexpr int kFixedWaitStepMs = 300;

// How an update waits for a ControlPanel that restarts, into its bootloader and back.
struct RestartFollowing
{
    // False: fixed waits of ten steps of 300 ms, then whatever is at the unit's port is opened.
    // True: the unit is followed at its USB port, for as long as it takes within the time-outs.
    bool follow = false;
    // How long its old instance may take to leave the bus once the restart command was echoed.
    int departureTimeoutMs = 5000;
    // How long it may then take to come back at the same port, the node opened.
    int returnTimeoutMs = 15000;
};

// How often a followed unit is looked for (hid_enumerate; nothing is opened until it is back).
constexpr int kFollowPollMs = 50;

enum class FollowResult
{
    Back,      // at its port again, and opened
    NeverLeft, // still there under its old node when the departure time-out passed
    NeverBack, // gone, and not back at its port (or not openable) within the return time-out
};

// Follows the unit that was `before` through the restart its last command began: the channel is
// closed. Waits until it has left the bus (a unit at the port under another node has left and come
// back already), then until a ControlPanel is at the same port and opens; a unit at another port
// is never taken. Announces AwaitingDeparture and AwaitingReturn, and pauses through the host
// between looks.
FollowResult followRestart(SequenceHost &host, UpdateProgress &progress, CommandChannel &channel,
                           const AttachedUnit &before, const RestartFollowing &timing);
