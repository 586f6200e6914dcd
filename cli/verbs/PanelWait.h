#pragma once

#include "CliStreams.h"
#include "UnitSelection.h"

// How often --wait looks for a ControlPanel (hid_enumerate).
constexpr int kPanelPollMs = 250;

enum class PanelWaitEnd
{
    // One usable ControlPanel came, or the time ran out: the update goes on, and says itself
    // when no usable ControlPanel is there.
    UpdateMayGoOn,
    // More than one is attached: the update would not know which to take (the message is
    // written).
    SeveralAttached,
};

// --wait: polls until the ControlPanel chosen (at its port, with its serial number, or the only
// one attached) is there and opens, for at most `seconds`, so that on a production line the
// update starts as the ControlPanel is plugged in.
PanelWaitEnd waitForUnit(CliStreams &io, int seconds, const UnitChoice &choice);
