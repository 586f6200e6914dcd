#pragma once

#include "CommandTable.h"

// `probe [--port PORT | --serial SERIAL] [--restart [--yes]] [--json]`: measures on one unit what
// the program assumes of it (UnitProbe.h) and prints the report, as text or as one JSON object,
// keeping it as a file beside the history. --restart asks first on a terminal and refuses
// without --yes elsewhere. Returns kExitOk when everything was measured, kExitNoControlPanel when
// no unit could be used, kExitNotAnswering when the unit did not answer or come back, kExitUsage
// when the restart was not confirmed.
int runProbe(CliStreams &io, const VerbRequest &request);
