#pragma once

#include "RestartPolicy.h"
#include "UpdateOutcome.h"
#include "WalkResult.h"

class UpdateRun;

// How the target's bootloader came to be ready for the walk.
struct BootloaderWait
{
    bool ready = true;
    RestartResult restart;    // the ControlPanel's restart into its bootloader, when it had one
    bool startFailed = false; // the control board's bootloader did not echo its start command
};

// Where the target went once its walk was over, and the time-out that passed when it did not
// leave or come back.
struct ReturnResult
{
    Return end = Return::Confirmed;
    int timeoutMs = 0;
};

// How one target is taken through an update, behind one interface: the sequence calls it in a
// straight line (enter, await the bootloader, walk, leave) whatever the target. The ControlPanel
// restarts into its bootloader and back, and its programmer starts its bootloader; the control
// board's bootloader is reached through the ControlPanel, started by the sequence, and left by
// its programmer's boot exit.
class TargetProtocol
{
public:
    virtual ~TargetProtocol() = default;

    // Sends the bootloader entry command; false when it was not echoed (the target may or may
    // not have started its bootloader).
    virtual bool enter(UpdateRun &run) const = 0;
    // Waits until the bootloader can take the walk. `alreadyThere`: the target runs its
    // bootloader already, and nothing restarts.
    virtual BootloaderWait awaitBootloader(UpdateRun &run, const RestartPolicy &policy,
                                           bool alreadyThere) const = 0;
    // Sends the target back to its application after its walk, whatever the walk's result, and
    // learns where it went.
    virtual ReturnResult leave(UpdateRun &run, const RestartPolicy &policy,
                               const WalkResult &walk) const = 0;
};

// The ControlPanel's.
class ControlPanelProtocol : public TargetProtocol
{
public:
    bool enter(UpdateRun &run) const override;
    BootloaderWait awaitBootloader(UpdateRun &run, const RestartPolicy &policy,
                                   bool alreadyThere) const override;
    ReturnResult leave(UpdateRun &run, const RestartPolicy &policy,
                       const WalkResult &walk) const override;
};

// The control board's, relayed by the ControlPanel.
class ControlBoardProtocol : public TargetProtocol
{
public:
    bool enter(UpdateRun &run) const override;
    BootloaderWait awaitBootloader(UpdateRun &run, const RestartPolicy &policy,
                                   bool alreadyThere) const override;
    ReturnResult leave(UpdateRun &run, const RestartPolicy &policy,
                       const WalkResult &walk) const override;
};
