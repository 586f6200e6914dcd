#pragma once

#include "AttachedUnits.h"
#include "RestartTiming.h"
#include "UpdateOutcome.h"

class UpdateRun;

// Which restart a ControlPanel goes through.
enum class RestartLeg
{
    IntoBootloader,
    IntoApplication,
};

struct RestartResult
{
    RestartEnd end = RestartEnd::Back;
    int timeoutMs = 0; // the time-out that passed, for NeverLeft and NeverBack
};

// What an update does while its ControlPanel restarts, and while its control board's bootloader
// starts: the front end hands one in. The window waits a fixed time (FixedWaits); the command
// line follows the unit at its USB port (FollowAtPort).
class RestartPolicy
{
public:
    virtual ~RestartPolicy() = default;

    // The ControlPanel echoed a command that restarts it; its channel is closed. `before` is the
    // unit as its channel held it. On Back the channel holds it again.
    virtual RestartResult awaitPanel(UpdateRun &run, const AttachedUnit &before,
                                     RestartLeg leg) const = 0;
    // The control board's bootloader starts behind the ControlPanel, which stays open: a fixed
    // wait either way.
    void awaitBoardBootloader(UpdateRun &run) const;
    // Whether the unit is followed, so that where it went after each restart is known.
    virtual bool followsUnit() const = 0;
    // Whether a unit can be updated under this policy: one whose port is unknown cannot be
    // followed through a restart.
    virtual bool canFollow(const AttachedUnit &unit) const = 0;
};

// The window's: ten steps of 300 ms after each restart; after the one into the bootloader the
// unit is opened again at its port (by its ids when its port is unknown), after the one back
// nothing is looked at.
class FixedWaits : public RestartPolicy
{
public:
    RestartResult awaitPanel(UpdateRun &run, const AttachedUnit &before,
                             RestartLeg leg) const override;
    bool followsUnit() const override { return false; }
    bool canFollow(const AttachedUnit &) const override { return true; }
};

// The command line's: the unit is followed at its USB port for as long as it takes within the
// time-outs (UnitFollower).
class FollowAtPort : public RestartPolicy
{
public:
    explicit FollowAtPort(const RestartTimeouts &timeouts = RestartTimeouts()) : timeouts(timeouts)
    {
    }

    RestartResult awaitPanel(UpdateRun &run, const AttachedUnit &before,
                             RestartLeg leg) const override;
    bool followsUnit() const override { return true; }
    bool canFollow(const AttachedUnit &unit) const override { return !unit.port.empty(); }

private:
    const RestartTimeouts timeouts;
};
