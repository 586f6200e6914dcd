#pragma once

#include <QStringList>

// Runs the command line on this process's standard output and standard error, encoded as UTF-8,
// with progress cut to the width of the terminal standard error is on. The arguments are taken
// byte for byte from argv, so that a file name that is not UTF-8 still opens.
int runOnConsole(int argc, char **argv);

// The same from arguments already decoded (QCoreApplication::arguments()): a name that was not
// valid UTF-8 has lost its bytes by then and will not open. Prefer argc and argv.
int runOnConsole(const QStringList &arguments);
