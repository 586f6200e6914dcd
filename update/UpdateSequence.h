#pragma once

#include "CommandChannel.h"
#include "ImageSummary.h"
#include "RestartFollowing.h"
#include "SequenceHost.h"
#include "TargetProfile.h"
#include "UnitLock.h"
#include "UnitSelection.h"
#include "UpdateTarget.h"

#include <QString>

// How a sequence ended, as far as a script needs to know.
enum class SequenceEnd
{
    Updated,      // written and read back unchanged, and the target back in its application
    NoFileChosen, // the user chose no file; nothing was sent after the connection check
    FileRefused,  // the file could not be opened or loaded; nothing was sent
    FileRefusedInBootloader, // the loader refused the file once the target was in its
                             // bootloader: nothing was written, but a control board stays there
    NoControlPanel,       // none attached, none this user may open, more than one, or not the one
                          // chosen
    DeviceNotAnswering,   // the device did not answer, or its bootloader did not start, before
                          // anything was written
    FailedWhileWriting,   // writing had begun: the firmware may be incomplete
    NotBackInApplication, // written and verified, but the target did not confirm leaving its
                          // bootloader, or did not come back running its application
};

// How the update finds its unit and waits for it. The defaults are the window's.
struct SequenceOptions
{
    UnitChoice unit;
    RestartFollowing restarts;
    // The unit already runs its bootloader (an earlier update ended there): no connection check,
    // no entry command, no first wait. The ControlPanel's programmer starts its bootloader as
    // usual; the control board's is sent its start command at once.
    bool inBootloader = false;
};

struct SequenceOutcome
{
    SequenceEnd end = SequenceEnd::NoFileChosen;
    QString text;        // what the user was shown last
    QString file;        // the file chosen, if any
    ImageSummary loaded; // the file as the programmer loaded it
    QString port;        // the unit's USB port, once one was opened
    QString serial;      // and its serial number
    // How the unit's lock was taken; unset when no unit was opened.
    std::optional<UnitLock::Outcome> lock;
    double seconds = 0;  // from the click to the result
};

// Everything behind one update button, from the connection check to the result message: the file
// choice, the bootloader entry and waits, the programmer, the ControlPanel's bootloader exit. Ends
// with the channel closed once the bootloader entry was sent; before that it leaves the channel
// open for the next one, unless its unit has gone from its port meanwhile. Sets the target's
// profile after the connection check. Once a file was chosen, the update is added to the history.
SequenceOutcome runUpdateSequence(const UpdateTarget &target, CommandChannel &channel,
                                  TargetProfile &profile, SequenceHost &host,
                                  const SequenceOptions &options = SequenceOptions());
