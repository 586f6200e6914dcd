#pragma once

#include "CliStreams.h"
#include "UpdateTarget.h"

// `check --target T FILE`: loads the file exactly as an update of the target would and sums it
// up on standard output, warnings on standard error; opens no device. kExitOk, or
// kExitFileRefused with the loader's message.
int runCheck(CliStreams &io, const UpdateTarget &target, const QString &file, bool json);
