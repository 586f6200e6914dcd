#include "InterruptGuard.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <iterator>

#include <fcntl.h>
#include <unistd.h>

namespace interrupts {

namespace {

volatile std::sig_atomic_t pastEntry = 0;
volatile std::sig_atomic_t interruptions = 0;
volatile std::sig_atomic_t stopAsked = 0;
volatile std::sig_atomic_t stopBy = 0;
volatile std::sig_atomic_t warning = 0; // a Deferral
volatile std::sig_atomic_t between = 0;
volatile std::sig_atomic_t endAsked = 0;
volatile std::sig_atomic_t supervisor = 0;

constexpr int kHandled[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};
// Per signal of kHandled, how many came from another process while supervising. Lock-free, so
// the handler may count while the program takes them.
std::atomic<int> toPass[std::size(kHandled)];
static_assert(std::atomic<int>::is_always_lock_free, "counted in a signal handler");

constexpr char kUpdateWarning[] =
    "\nStopping now leaves the firmware incomplete. Press Ctrl-C again to stop after this page.\n";
constexpr char kProbeWarning[] =
    "\nThe ControlPanel is restarting: it is brought back to its application first. Press Ctrl-C "
    "again to stop once it is back.\n";

constexpr const char *kWorkerVariable = "ZELUPDATE_BATCH_PARENT";

void warn()
{
    const bool probe = warning == int(Deferral::Probe);
    const ssize_t written = probe
                                ? ::write(STDERR_FILENO, kProbeWarning, sizeof kProbeWarning - 1)
                                : ::write(STDERR_FILENO, kUpdateWarning, sizeof kUpdateWarning - 1);
    (void)written; // a closed or vanished terminal loses the warning, not the update
}

void askToStop(int signal)
{
    stopAsked = 1;
    stopBy = signal;
}

// A worker of update --all leaves the process group of its parent, which passes it every signal.
void leaveParentGroup()
{
    const char *parent = std::getenv(kWorkerVariable);
    if (!parent)
        return;
    if (std::strtoll(parent, nullptr, 10) == ::getppid())
        ::setpgid(0, 0);
    ::unsetenv(kWorkerVariable);
}

// Only async-signal-safe calls here: write and _exit.
void handle(int signal)
{
    if (supervisor) {
        for (std::size_t at = 0; at < std::size(kHandled); ++at)
            if (kHandled[at] == signal)
                ++toPass[at];
        return;
    }
    if (between) {
        endAsked = 1;
        return;
    }
    if (!pastEntry)
        ::_exit(128 + signal);
    // update --each ends once the unit's update has.
    if (signal != SIGHUP)
        endAsked = 1;
    switch (signal) {
    case SIGINT:
        if (++interruptions == 1)
            warn();
        else
            askToStop(signal);
        break;
    case SIGTERM:
    case SIGQUIT:
        askToStop(signal);
        break;
    default: // SIGHUP: the update goes on without its terminal
        break;
    }
}

} // namespace

void install()
{
    leaveParentGroup();
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
    for (int signal : kHandled) {
        // A signal ignored from the start stays ignored: nohup, or a job a shell started in the
        // background, asked for that.
        struct sigaction inherited = {};
        if (::sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
            continue;
        ::sigaction(signal, &action, nullptr);
    }
    std::signal(SIGPIPE, SIG_IGN);
}

void enteringBootloader(Deferral deferral)
{
    warning = int(deferral);
    pastEntry = 1;
}

bool stopRequested()
{
    return stopAsked != 0;
}

int stopSignal()
{
    return stopBy;
}

void betweenUnits(bool now)
{
    if (!now) {
        pastEntry = 0;
        interruptions = 0;
        stopAsked = 0;
        stopBy = 0;
    }
    between = now ? 1 : 0;
}

bool endRequested()
{
    return endAsked != 0;
}

void supervising()
{
    supervisor = 1;
}

const char *workerVariable()
{
    return kWorkerVariable;
}

QByteArray workerValue()
{
    return QByteArray::number(qint64(::getpid()));
}

std::vector<int> signalsToPass()
{
    std::vector<int> passed;
    for (std::size_t at = 0; at < std::size(kHandled); ++at)
        for (int count = toPass[at].exchange(0); count > 0; --count)
            passed.push_back(kHandled[at]);
    return passed;
}

} // namespace interrupts
