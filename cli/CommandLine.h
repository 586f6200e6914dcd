#pragma once

#include "CliStreams.h"

#include <QString>
#include <QStringList>

// zelupdate-cli's usage, options and exit codes, as --help prints them.
QString helpText();

// Runs one command line (arguments[0] is the program's name): parses it, runs its command and
// returns the exit status (ExitCodes.h). Never exits the process.
int runCommandLine(const QStringList &arguments, CliStreams &io);
