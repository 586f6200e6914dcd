#pragma once

#include <QByteArray>

#include <vector>

// How zelupdate-cli answers the signals that would otherwise cut an update short. A write cut in
// half leaves a unit that may not start again, so:
// - before the bootloader entry command, Ctrl-C, Ctrl-\ (SIGQUIT), SIGTERM and SIGHUP end the
//   program at once, with 128 + the signal's number as its exit status: nothing was sent that
//   needs undoing;
// - after it, the first Ctrl-C only warns; a second Ctrl-C, or one SIGTERM or SIGQUIT, asks the
//   page walk to stop at the next page boundary, and the update ends as a failed one does;
// - SIGHUP after it (the terminal or the SSH session went away) lets the update finish, and
//   SIGPIPE never ends the program: output that can no longer be written is dropped.
namespace interrupts {

// Opens /dev/null on any of the standard descriptors 0 to 2 that is closed, so that nothing the
// program opens later (a hidraw node) can take its place and receive its messages. Then installs
// the handlers. Call first thing in main.
void install();

// What the first Ctrl-C after the entry command warns of.
enum class Deferral
{
    Update, // a page being written
    Probe,  // a unit restarting, which is brought back to its application first
};

// The bootloader entry command is about to be sent: from now on an interruption is deferred.
void enteringBootloader(Deferral deferral = Deferral::Update);

// Whether the user asked the update to stop (a second Ctrl-C, or SIGTERM or SIGQUIT).
bool stopRequested();
// The signal that asked it to stop; 0 when none did.
int stopSignal();

// update --each: between its units (true) Ctrl-C, SIGTERM and SIGHUP only ask it to end, which it
// does at once with its tally; a unit's update (false) starts afresh as a single update does, and
// a Ctrl-C or SIGTERM after its entry asks the run to end once that update has.
void betweenUnits(bool between);
// Whether a signal between units asked update --each to end.
bool endRequested();

// update --all: from now on no signal ends this program; every signal it gets, from the terminal
// or from another process, is kept to be passed on to its workers, once each. The workers run in
// process groups of their own (workerEnvironment), so that a terminal's key or a signal to the
// whole group reaches them only through this program, never twice.
void supervising();
// The environment variable and value that make a worker of update --all, started by this program,
// leave its parent's process group as it starts (install() reads it).
const char *workerVariable();
QByteArray workerValue();
// The signals kept since the last call, each as often as it came.
std::vector<int> signalsToPass();

} // namespace interrupts
