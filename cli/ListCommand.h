#pragma once

#include "CliStreams.h"

// `list`: every attached device with the ControlPanel's ids, whether this user can open it, and
// whether the udev rule is installed and in force; what to do about one that cannot be opened
// goes to standard error. kExitOk when one can be opened, kExitNoControlPanel otherwise.
int runList(CliStreams &io, bool json);
