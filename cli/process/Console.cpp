#include "Console.h"

#include "CommandLine.h"
#include "InterruptGuard.h"
#include "UpdateAll.h"
#include "Utf8Text.h"
#include "WorkerRequest.h"

#include <cerrno>
#include <cstdio>

#include <sys/ioctl.h>
#include <unistd.h>

namespace {

// Asked again at each redraw: the terminal may be resized during an update.
int errColumns()
{
    winsize size{};
    if (::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
}

// update --all's request, read to its end. A request is written by update --all, never typed, and
// never larger than an image in base64 beside a few names: anything else is no request.
QByteArray workerRequestOnInput()
{
    if (::isatty(STDIN_FILENO))
        return QByteArray();
    QByteArray request;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return QByteArray();
        if (got == 0)
            return request;
        request.append(buffer, int(got));
        if (request.size() > kMaxWorkerRequestBytes)
            return QByteArray();
    }
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
    if (arguments.size() == 2 && arguments[1] == kWorkerArgument)
        return runUnitWorker(io, workerRequestOnInput());
    return runCommandLine(arguments, io);
}
