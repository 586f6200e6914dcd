#pragma once

#include "CommandChannel.h"
#include "ImageSummary.h"
#include "ProgressReporter.h"
#include "TargetProfile.h"
#include "UpdateResult.h"

#include <cstdio>

// Writes the HEX file into the ControlPanel, which must be running its bootloader on an open
// channel, then reads every written page back and compares it. Sends nothing when the file is
// refused. Closes neither the file nor the channel and leaves the bootloader running.
UpdateResult writeControlPanel(CommandChannel &channel, const TargetProfile &profile,
                               std::FILE *file, ProgressReporter &progress,
                               ImageSummary *loadedFile = nullptr);
