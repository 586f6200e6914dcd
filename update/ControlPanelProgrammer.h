#pragma once

#include "CommandChannel.h"
#include "PageWalk.h"
#include "TargetProfile.h"
#include "UpdateProgress.h"
#include "WalkResult.h"

// Writes the loaded image into the ControlPanel, which must be running its bootloader on an open
// channel: starts programming, writes every used page, then reads each back and compares it.
// Leaves the channel open and the bootloader running.
WalkResult writeControlPanel(CommandChannel &channel, const TargetProfile &profile,
                             const LoadedImage &loaded, UpdateProgress &progress);
