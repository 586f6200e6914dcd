#pragma once

#include "CommandTable.h"

struct HexFileCheck;

// How often `update --each` looks for the next ControlPanel between units.
constexpr int kEachPollMs = 250;

// `update --each`: the file, checked once already, written into each ControlPanel as it is plugged
// in (at request.unit.port only, when given), one after the other, until the user ends it between
// units (CliStreams::endRequested) or stops a unit's update. A unit is updated once while it stays
// attached: it is known by its port and serial number. A line per unit (time, port, serial
// number, result, seconds, the tally so far), then the tally. Returns 0 when every unit was
// updated, else 1 (ExitCodes.h).
int runUpdateEach(CliStreams &io, const VerbRequest &request, const HexFileCheck &check);
