#pragma once

#include "CommandChannel.h"
#include "PageWalk.h"
#include "TargetProfile.h"
#include "UpdateProgress.h"
#include "WalkResult.h"

// Writes the loaded image into the control board, whose started bootloader the ControlPanel relays
// to, reads every written page back and compares it, and only then tells the bootloader to exit.
// Leaves the channel open.
WalkResult writeControlBoard(CommandChannel &channel, const TargetProfile &profile,
                             const LoadedImage &loaded, UpdateProgress &progress);
