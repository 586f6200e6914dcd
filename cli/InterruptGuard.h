#pragma once

#include <vector>

// How zelupdate-cli answers the signals that would otherwise cut an update short. A write cut in
// half leaves a unit that may not start again, so:
// - before the bootloader entry command, Ctrl-C, SIGTERM and SIGHUP end the program at once, with
//   128 + the signal's number as its exit status: nothing was sent that needs undoing;
// - after it, the first Ctrl-C only warns; a second Ctrl-C, or one SIGTERM, asks the page walk to
//   stop at the next page boundary, and the update ends as a failed one does;
// - SIGHUP after it (the terminal or the SSH session went away) lets the update finish, and
//   SIGPIPE never ends the program: output that can no longer be written is dropped.
namespace interrupts {

// Opens /dev/null on any of the standard descriptors 0 to 2 that is closed, so that nothing the
// program opens later (a hidraw node) can take its place and receive its messages. Then installs
// the handlers. Call first thing in main.
void install();

// The bootloader entry command is about to be sent: from now on an interruption is deferred.
void enteringBootloader();

// Whether the user asked the update to stop (a second Ctrl-C, or SIGTERM).
bool stopRequested();

// update --each: between its units (true) Ctrl-C, SIGTERM and SIGHUP only ask it to end, which it
// does at once with its tally; a unit's update (false) starts afresh as a single update does, and
// a Ctrl-C or SIGTERM after its entry asks the run to end once that update has.
void betweenUnits(bool between);
// Whether a signal between units asked update --each to end.
bool endRequested();

// update --all: the workers take the signals themselves (a terminal's Ctrl-C reaches its whole
// foreground process group), so from now on no signal ends this program; a signal that another
// process sent to it alone is kept to be passed on to the workers.
void supervising();
// The signals kept since the last call, each as often as it came.
std::vector<int> signalsToPass();

} // namespace interrupts
