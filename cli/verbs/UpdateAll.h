#pragma once

#include "CommandTable.h"

struct HexFileCheck;

// `update --all`: the file, checked once already, written into every attached ControlPanel at
// once, each by this program run again for its port (UnitWorker); then a summary. Returns the exit
// status allUnitsExitCode() gives for the units.
int runUpdateAll(CliStreams &io, const VerbRequest &request, const HexFileCheck &check);

// One unit's update for `update --all`, as the request on standard input asks (WorkerRequest.h):
// JSON Lines on standard output, messages on standard error, as `update --json` writes them.
int runUnitWorker(CliStreams &io, const QByteArray &request);
