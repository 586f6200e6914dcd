#pragma once

#include <QStringList>

// Runs the command line on this process's standard output and standard error, encoded as UTF-8.
int runOnConsole(const QStringList &arguments);
