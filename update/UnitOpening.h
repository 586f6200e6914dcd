#pragma once

#include "AttachedUnits.h"
#include "CommandChannel.h"
#include "ConnectionProblem.h"
#include "UnitSelection.h"

#include <optional>

// The unit an update opened, or why none could be.
struct OpenedUnit
{
    std::optional<AttachedUnit> unit; // as listed when it was opened
    ConnectionProblem problem;        // when none was
};

// Opens the unit the choice names on the channel. A handle already held is kept while its unit is
// still there under the same node: one unplugged or power-cycled meanwhile would fail every later
// update. On failure the channel is left as it was found closed, and the problem says which units
// are attached and why none could be used.
OpenedUnit openChosenUnit(CommandChannel &channel, const UnitChoice &choice);
