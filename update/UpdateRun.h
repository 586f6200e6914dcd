#pragma once

#include "AttachedUnits.h"
#include "CommandChannel.h"
#include "SequenceHost.h"
#include "UpdateProgress.h"

// What the restart policy and the target's protocol act on in one update: the channel, the
// front end's pauses and wait indicator, where phases are announced, and the unit as it was when
// its connection check answered.
class UpdateRun
{
public:
    UpdateRun(CommandChannel &channel, SequenceHost &host, UpdateProgress &progress)
        : channel(channel), host(host), progress(progress)
    {
    }
    // The wait indicator goes with the update, however it ends.
    ~UpdateRun() { endWait(); }
    UpdateRun(const UpdateRun &) = delete;
    UpdateRun &operator=(const UpdateRun &) = delete;

    // A fixed wait of ten steps: the first one puts the wait indicator up with `phase`, and it
    // stays up, between waits, until endWait().
    void fixedWait(UpdatePhase phase);
    // The update will not wait again.
    void endWait();

    CommandChannel &channel;
    SequenceHost &host;
    UpdateProgress &progress;
    AttachedUnit unit;

private:
    bool waiting = false;
};
