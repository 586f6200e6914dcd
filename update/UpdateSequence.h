#pragma once

#include "CommandChannel.h"
#include "ImageSummary.h"
#include "SequenceHost.h"
#include "TargetProfile.h"
#include "UpdateTarget.h"

#include <QString>

// How a sequence ended, as far as a script needs to know.
enum class SequenceEnd
{
    Updated,                 // written and read back unchanged
    NoFileChosen,            // the user chose no file; nothing was sent after the connection check
    FileRefused,             // the file could not be opened or loaded; nothing was sent
    FileRefusedInBootloader, // the loader refused the file once the target was in its
                             // bootloader: nothing was written, but a control board stays there
    NoControlPanel,          // none attached, none this user may open, or more than one
    DeviceNotAnswering,      // the device did not answer, or its bootloader did not start, before
                             // anything was written
    FailedWhileWriting,      // writing had begun: the firmware may be incomplete
};

struct SequenceOutcome
{
    SequenceEnd end = SequenceEnd::NoFileChosen;
    QString text;        // what the user was shown last
    QString file;        // the file chosen, if any
    ImageSummary loaded; // the file as the programmer loaded it
    double seconds = 0;  // from the click to the result
};

// Everything behind one update button, from the connection check to the result message: the file
// choice, the bootloader entry and waits, the programmer, the ControlPanel's bootloader exit. Ends
// with the channel closed once the bootloader entry was sent; before that it leaves the channel
// open for the next one. Sets the target's profile after the connection check. Once a file was
// chosen, the update is added to the history.
SequenceOutcome runUpdateSequence(const UpdateTarget &target, CommandChannel &channel,
                                  TargetProfile &profile, SequenceHost &host);
