#pragma once

#include "CommandChannel.h"
#include "RestartPolicy.h"
#include "SequenceHost.h"
#include "UnitSelection.h"
#include "UpdateOutcome.h"
#include "UpdateTarget.h"

#include <memory>

// How the update finds its unit and what it does while the unit restarts. The defaults are the
// window's.
struct SequenceOptions
{
    UnitChoice unit;
    std::shared_ptr<const RestartPolicy> restarts = std::make_shared<FixedWaits>();
    // The unit already runs its bootloader (an earlier update ended there): no connection check,
    // no entry command, no first wait. The ControlPanel's programmer starts its bootloader as
    // usual; the control board's is sent its start command at once.
    bool inBootloader = false;
};

// Everything behind one update button, from the connection check to the result: the unit's lock,
// the file choice, the bootloader entry and the waits, the programmer, the way back to the
// application. Ends with the channel closed once the bootloader entry was sent; before that it
// leaves the channel open for the next one, unless its unit has gone from its port meanwhile. Once
// a file was chosen, the update is added to the history. Every step is announced through the
// host's events, ending with the outcome.
UpdateOutcome runUpdateSequence(const UpdateTarget &target, CommandChannel &channel,
                                SequenceHost &host,
                                const SequenceOptions &options = SequenceOptions());
