#pragma once

#include "CliStreams.h"

// `history`: the update history file as it stands, on standard output. No file yet: nothing,
// and kExitOk.
int runHistory(CliStreams &io);
