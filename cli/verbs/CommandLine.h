#pragma once

#include "CliStreams.h"

#include <QByteArrayList>

// Runs one command line, given byte for byte as the program's argv (arguments[0] is the
// program's name): parses it against the verb table, runs its verb and returns the exit status
// (ExitCodes.h). Never exits the process.
int runCommandLine(const QByteArrayList &arguments, CliStreams &io);
