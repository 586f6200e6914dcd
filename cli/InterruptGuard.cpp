#include "InterruptGuard.h"

#include <cerrno>
#include <csignal>
#include <initializer_list>

#include <fcntl.h>
#include <unistd.h>

namespace interrupts {

namespace {

volatile std::sig_atomic_t pastEntry = 0;
volatile std::sig_atomic_t interruptions = 0;
volatile std::sig_atomic_t stopAsked = 0;

constexpr char kWarning[] =
    "\nStopping now leaves the firmware incomplete. Press Ctrl-C again to stop after this page.\n";

// Only async-signal-safe calls here: write and _exit.
void handle(int signal)
{
    if (!pastEntry)
        ::_exit(128 + signal);
    switch (signal) {
    case SIGINT:
        if (++interruptions == 1) {
            const ssize_t written = ::write(STDERR_FILENO, kWarning, sizeof kWarning - 1);
            (void)written; // a closed or vanished terminal loses the warning, not the update
        } else {
            stopAsked = 1;
        }
        break;
    case SIGTERM:
        stopAsked = 1;
        break;
    default: // SIGHUP: the update goes on without its terminal
        break;
    }
}

} // namespace

void install()
{
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (::fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            // open() takes the lowest free descriptor: this one.
            const int opened = ::open("/dev/null", O_RDWR);
            if (opened >= 0 && opened != fd)
                ::close(opened);
        }
    }
    struct sigaction action = {};
    action.sa_handler = handle;
    sigemptyset(&action.sa_mask);
    // Interrupted reads and writes of the device resume: the wire keeps its discipline.
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        ::sigaction(signal, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void enteringBootloader()
{
    pastEntry = 1;
}

bool stopRequested()
{
    return stopAsked != 0;
}

} // namespace interrupts
