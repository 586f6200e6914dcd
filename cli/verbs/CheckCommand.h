#pragma once

#include "CommandTable.h"

// `check --target T FILE [--allow-no-eof]`: loads the file exactly as an update of the target
// would, gives that update's verdict, and sums a good file up on standard output; warnings go to
// standard error. Opens no device. kExitOk, or kExitFileRefused with the check's message.
int runCheck(CliStreams &io, const VerbRequest &request);
