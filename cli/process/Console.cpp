#include "Console.h"

#include "CommandLine.h"
#include "InterruptGuard.h"
#include "UpdateAll.h"
#include "Utf8Text.h"
#include "WorkerRequest.h"

#include <QFile>

#include <cstdio>

#include <sys/ioctl.h>

namespace {

// Asked again at each redraw: the terminal may be resized during an update.
int errColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

} // namespace

int runOnConsole(int argc, char **argv)
{
    QByteArrayList arguments;
    for (int at = 0; at < argc; ++at)
        arguments << QByteArray(argv[at]);
    QTextStream out(stdout);
    QTextStream err(stderr);
    writeUtf8(out);
    writeUtf8(err);
    CliStreams io(out, err, ::isatty(STDERR_FILENO) != 0);
    io.errColumns = errColumns;
    io.enteringBootloader = [] { interrupts::enteringBootloader(interrupts::Deferral::Update); };
    io.probeRestarting = [] { interrupts::enteringBootloader(interrupts::Deferral::Probe); };
    io.stopRequested = interrupts::stopRequested;
    io.stopSignal = interrupts::stopSignal;
    io.betweenUnits = interrupts::betweenUnits;
    io.endRequested = interrupts::endRequested;
    io.supervising = interrupts::supervising;
    io.signalsToPass = interrupts::signalsToPass;
    if (arguments.size() == 2 && arguments[1] == kWorkerArgument) {
        // A request is written by update --all, never typed; and it is never larger than an
        // image in base64 beside a few names.
        QFile in;
        if (::isatty(STDIN_FILENO) || !in.open(stdin, QIODevice::ReadOnly))
            return runUnitWorker(io, QByteArray());
        const QByteArray request = in.read(kMaxWorkerRequestBytes + 1);
        return runUnitWorker(io, request.size() > kMaxWorkerRequestBytes ? QByteArray() : request);
    }
    return runCommandLine(arguments, io);
}
