#pragma once

// What a probe tells the user when it cannot measure everything, each formatted with the unit's
// USB port, and where it says so the time-out in seconds. Each says what state the unit is left
// in; a front end adds how to recover it.

// Formatted with the unit's hidraw node.
constexpr const char *kProbePortUnknownText =
    "The USB port of the ControlPanel at %1 cannot be found, so it cannot be followed through a "
    "restart";
constexpr const char *kProbeRestartRefusedText =
    "Not restarted: nothing was sent to the ControlPanel at USB port %1";

constexpr const char *kProbeNotAnsweringText =
    "The ControlPanel at USB port %1 answered none of its connection checks: power it off and on "
    "and probe it again; if it still does not answer, it may run its bootloader";
// Also formatted with the checks answered.
constexpr const char *kProbeStoppedAnsweringText =
    "The ControlPanel at USB port %1 stopped answering its connection checks after %2 answers: "
    "check its cable and power, then probe it again";

constexpr const char *kProbeEntryNotConfirmedText =
    "The ControlPanel at USB port %1 did not confirm its bootloader entry command and did not "
    "restart within %2 s: it still runs its application, and an update of it would stop there too";
constexpr const char *kProbeEntryUnconfirmedRestartText =
    "The ControlPanel at USB port %1 did not confirm its bootloader entry command, yet restarted "
    "into its bootloader and back: an update of it would stop at that command";
constexpr const char *kProbeNeverLeftText =
    "The ControlPanel at USB port %1 did not restart within %2 s of its bootloader entry command: "
    "it still runs its application; power it off and on";
constexpr const char *kProbeNotBackInBootloaderText =
    "The ControlPanel at USB port %1 did not come back within %2 s of its restart into its "
    "bootloader. When it comes back it is in its bootloader";
// Also formatted with the port it came back at.
constexpr const char *kProbeBackElsewhereText =
    "The ControlPanel at USB port %1 came back at USB port %3 instead, within %2 s of its restart "
    "into its bootloader: it is in its bootloader there";
constexpr const char *kProbeExitNotConfirmedText =
    "The ControlPanel at USB port %1 did not confirm its bootloader exit command and did not "
    "restart within %2 s: it is left in its bootloader";
constexpr const char *kProbeExitUnconfirmedRestartText =
    "The ControlPanel at USB port %1 did not confirm its bootloader exit command, yet restarted "
    "into its application: an update of it would end saying that it did not come back";
constexpr const char *kProbeNotLeftForApplicationText =
    "The ControlPanel at USB port %1 did not restart within %2 s of its bootloader exit command "
    "and is left in its bootloader";
constexpr const char *kProbeNotBackText =
    "The ControlPanel at USB port %1 did not come back within %2 s of its restart into its "
    "application: power it off and on";
constexpr const char *kProbeSilentAfterReturnText =
    "The ControlPanel at USB port %1 came back but does not answer its connection check: it may "
    "still run its bootloader";

// The user stopped a probe during its restart; formatted with the unit's USB port.
constexpr const char *kProbeInterruptedText =
    "Interrupted: the ControlPanel at USB port %1 was brought back to its application first; "
    "probe it again for the figures left out";
