#pragma once

#include "CommandTable.h"
#include "UpdateSequence.h"

#include <QElapsedTimer>

struct HexFileCheck;

// `update --target T FILE`: the window's update sequence, with the file loaded and judged first
// (the verdict `check` gives) so that a file the update would refuse never sends a target into
// its bootloader. Returns the exit status for the sequence's end (ExitCodes.h).
int runUpdate(CliStreams &io, const VerbRequest &request);

// One unit's update through the engine, with the file loaded and checked already: progress on
// standard error, or JSON with --json, then the sequence's outcome.
UpdateOutcome updateUnit(CliStreams &io, const VerbRequest &request, const HexFileCheck &check,
                         const UnitChoice &unit);

// A file the update refuses: says why, and writes the result. Nothing is sent. Returns the exit
// status.
int refuseFile(CliStreams &io, const VerbRequest &request, const HexFileCheck &check,
               const QElapsedTimer &clock);
// A file taken: its warnings, and what is about to be updated with what.
void announceUpdate(CliStreams &io, const VerbRequest &request, const HexFileCheck &check);

// updateUnit, then its result written as `update` writes it, its seconds counted by `clock`.
// Returns the exit status.
int updateCheckedUnit(CliStreams &io, const VerbRequest &request, const HexFileCheck &check,
                      const QElapsedTimer &clock);
