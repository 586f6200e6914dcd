#pragma once

#include "CliStreams.h"

// How often --wait looks for a ControlPanel (hid_enumerate).
constexpr int kPanelPollMs = 250;

// --wait: polls until exactly one ControlPanel is attached and opens, for at most `seconds`, so
// that on a production line the update starts as the ControlPanel is plugged in. True when more
// than one is attached (the message is written); otherwise the update may go on, and, when no
// usable ControlPanel came in time, says so itself.
bool waitForOnePanel(CliStreams &io, int seconds);
