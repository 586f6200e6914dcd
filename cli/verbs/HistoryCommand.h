#pragma once

#include "CliStreams.h"

// `history`: the update history file as it stands, streamed to standard output a piece at a time
// whatever its size. No file yet: nothing, and kExitOk; one that is there but cannot be read, or
// fails while it is read: kExitHistoryUnreadable with the reason.
int runHistory(CliStreams &io);
