#pragma once

#include "CliStreams.h"
#include "CommandTable.h"

#include <QStringList>

// Runs `verb` with its whole conversation with the unit recorded into the file --record names
// (docs/recording.md): every hidapi call the program makes, the update's events or the probe's
// report, and the exit status. A file that cannot be written is a usage error before anything is
// sent. `arguments` is the command line a replay gives again: the verb, its options but
// --record, and the HEX file by its name only (the folders above it may name the user).
int runRecorded(const Verb &verb, CliStreams &io, const VerbRequest &request,
                const QStringList &arguments);
