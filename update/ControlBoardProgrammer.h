#pragma once

#include "CommandChannel.h"
#include "ImageSummary.h"
#include "ProgressReporter.h"
#include "TargetProfile.h"
#include "UpdateResult.h"

#include <cstdio>

// Writes the HEX file into the control board, whose bootloader the ControlPanel relays to, reads
// every written page back and compares it, and only then tells the bootloader to exit. Sends
// nothing when the file is refused. Closes neither the file nor the channel.
UpdateResult writeControlBoard(CommandChannel &channel, const TargetProfile &profile,
                               std::FILE *file, ProgressReporter &progress,
                               ImageSummary *loadedFile = nullptr);
