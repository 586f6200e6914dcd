#pragma once

// Texts of the command line's own; the update engine's are in UpdateTexts.h, the file check's in
// HexFileCheck.h.

constexpr const char *kProgramName = "zelupdate-cli";
constexpr const char *kWarningPrefix = "warning: ";

// What --help says between the usage and the verbs, and before the exit codes.
constexpr const char *kProgramPurpose =
    "Updates the firmware of a ControlPanel (USB 03eb:2402) or of the ZEL02 control board behind "
    "it from an Intel HEX file, as zelUpdate's buttons do.";
constexpr const char *kStreamsNote =
    "Results go to standard output; messages and progress to standard error.";

// Follows the file check's refusal of a file without an end-of-file record.
constexpr const char *kAllowNoEofHint = " (--allow-no-eof to write it anyway)";

constexpr const char *kUsageHint = "Try 'zelupdate-cli --help'.";

// Formatted with the number of ControlPanels attached and their ports.
constexpr const char *kSeveralUnitsText =
    "%1 ControlPanels are attached (%2): choose one with --port";

// update --each and the units another program holds or that failed here. Formatted with the
// port (and the holder, the program that updated it, its process and when it finished).
constexpr const char *kEachWaitingText = "%1: waiting until that update has ended";
constexpr const char *kEachUpdatedElsewhereText =
    "The ControlPanel at USB port %1 was updated with this image by %2 (process %3), which "
    "finished at %4: left alone";
constexpr const char *kEachSilentReturnText =
    "The ControlPanel at USB port %1, whose update failed, came back but does not answer its "
    "connection check: it may still run its bootloader. It is left alone until it is plugged in "
    "again; update it with --in-bootloader";

// A unit whose USB port cannot be found, which update --all and --each leave alone: a board can
// be updated alone, a ControlPanel, which cannot be followed through its restarts, by the window.
constexpr const char *kPortlessBoardText =
    "its USB port cannot be found, so no update can be told to take it alone: update it with no "
    "other ControlPanel attached";
constexpr const char *kPortlessPanelText =
    "its USB port cannot be found, so it cannot be told apart after its restarts: update it with "
    "the window, zelUpdate, which waits a fixed time for each restart";
