#pragma once

#include "ProbeReport.h"
#include "UpdateOutcome.h"

#include <QString>

// How the command line tells the end of an update and of a probe: the engine's words, then how to
// go on from here, with the options and commands that do it.

// The update's end: its text, advice for where the unit is, and what an earlier update that did
// not finish means for the next one.
QString commandLineText(const UpdateOutcome &outcome);

// The probe's end, when it did not measure everything: its text and how to recover the unit.
QString commandLineText(const ProbeReport &report);
