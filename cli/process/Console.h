#pragma once

#include <QStringList>

// Runs the command line on this process's standard output and standard error, encoded as UTF-8,
// with progress cut to the width of the terminal standard error is on. The arguments are taken
// byte for byte from argv, so that a file name that is not UTF-8 still opens. Interruptions are
// handled as InterruptGuard.h says, once interrupts::install() has run.
int runOnConsole(int argc, char **argv);
