#pragma once

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

} // namespace interrupts
