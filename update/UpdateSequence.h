#pragma once

#include "CommandChannel.h"
#include "SequenceHost.h"
#include "TargetProfile.h"

// Everything behind one update button, from the connection check to the result message: the
// file choice, the bootloader entry and waits, the programmer, the ControlPanel's bootloader
// exit. Ends with the channel closed once the bootloader entry was sent; before that it leaves
// the channel open for the next click. Sets the target's profile after the connection check.
void runUpdateSequence(UpdateTarget target, CommandChannel &channel, TargetProfile &profile,
                       SequenceHost &host);
