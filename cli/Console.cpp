#include "Console.h"

#include "CommandLine.h"

#include <cstdio>

int runOnConsole(const QStringList &arguments)
{
    QTextStream out(stdout);
    QTextStream err(stderr);
    out.setCodec("UTF-8");
    err.setCodec("UTF-8");
    CliStreams io(out, err, ::isatty(STDERR_FILENO) != 0);
    return runCommandLine(arguments, io);
}
