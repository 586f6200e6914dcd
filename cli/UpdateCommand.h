#pragma once

#include "CommandTable.h"

// `update --target T FILE`: the window's update sequence, with the file loaded and judged first
// (the verdict `check` gives) so that a file the update would refuse never sends a target into
// its bootloader. Returns the exit status for the sequence's end (ExitCodes.h).
int runUpdate(CliStreams &io, const VerbRequest &request);
