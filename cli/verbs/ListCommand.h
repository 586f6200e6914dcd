#pragma once

#include "CliStreams.h"
#include "UnitSelection.h"

// `list`: every attached device with the ControlPanel's ids, headed by the USB port that names it
// across restarts, whether this user can open it, and whether the udev rule is installed and in
// force; what to do about one that cannot be opened, chosen for the session (at the seat or not,
// in the rule's group or not), goes to standard error. Strings from the devices are shown
// escaped, never as control characters. kExitOk when one can be opened, kExitNoControlPanel
// otherwise. With a port or serial number chosen, only that unit is listed. A unit whose last
// update did not finish, or that another program updates now, says so.
int runList(CliStreams &io, const UnitChoice &choice, bool json);
