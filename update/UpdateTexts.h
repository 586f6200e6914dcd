#pragma once

// Every text the update engine gives the user, in one place. The front ends show them as they
// stand; the window's own Swedish labels and its file dialog's texts live with the window, the
// file check's with it (HexFileCheck.h).

// What a programmer returns when the device stops answering as it must.
constexpr const char *kUsbError = "USB communication error";
constexpr const char *kProgrammingError = "USB communication error during programming";
constexpr const char *kVerificationError = "USB communication error during verification";
constexpr const char *kBootExitError = "USB communication error during boot exit";
// ...and when the user stopped it at a page boundary.
constexpr const char *kInterruptedError = "Interrupted: the firmware is incomplete; run the update "
                                          "again";
// ...or before the first page, when the old firmware is whole.
constexpr const char *kInterruptedBeforeWritingError =
    "Interrupted before the first page: nothing was written";
// ...and what the sequence adds when the target never reached its bootloader.
constexpr const char *kBootloaderEntryError = "USB communication error during bootloader entry";
constexpr const char *kBootloaderStartError = "USB communication error during bootloader start";
// Formatted with the image offset, the byte read back and the image's byte.
constexpr const char *kMismatchFormat = "\nError: Address 0x%05x  Actual 0x%02x  Expected 0x%02x\n";

// Connection problems: a text and advice beneath it.
constexpr const char *kNoPanelText = "Can't open USB connection to ControlPanel";
constexpr const char *kNoPanelAdvice = "Connect a ControlPanel to this computer with a USB cable "
                                       "and then power up the ControlPanel";
constexpr const char *kSeveralPanelsText = "More than one ControlPanel is connected";
constexpr const char *kSeveralPanelsAdvice = "Connect only the ControlPanel to update";

// Critical errors, titled kErrorTitle.
constexpr const char *kErrorTitle = "Error";
constexpr const char *kNoConnectionError = "Error: Can't connect to ControlPanel";
constexpr const char *kHexFileError = "Error: Can't open hex file";

// The result of a sequence.
constexpr const char *kErrorPrefix = "An error occured during firmware update\n";
constexpr const char *kPanelNotBackText = "Could not update ControlPanel firmware.";
constexpr const char *kPanelUpdatedText = "The ControlPanel firmware has been updated";
constexpr const char *kBoardUpdatedText = "The ZEL02 firmware has been updated";

// Why an attached ControlPanel cannot be used, and what to do about it.
constexpr const char *kUdevRuleName = "70-zelupdate-controlpanel.rules";
constexpr const char *kNoPermissionText = "this user may not open it";
constexpr const char *kNoPermissionAdvice =
    "The udev rule 70-zelupdate-controlpanel.rules is not installed or not loaded. Install the "
    "zelupdate package, or copy the rule into /etc/udev/rules.d, then run:\n"
    "  sudo udevadm control --reload\n"
    "  sudo udevadm trigger --subsystem-match=hidraw\n"
    "and plug the ControlPanel in again.";
// ...and for a session beyond the seat (SSH, a service, no local seat), which only the group the
// rule names can let in. Formatted with the user's name and the group's.
constexpr const char *kAccessGroup = "plugdev";
constexpr const char *kJoinGroupAdvice =
    "The udev rule opens the ControlPanel to the user at this computer's seat and to the %2 "
    "group, and this session is not at the seat (an SSH session, a service, or no local seat). "
    "Add %1 to the group:\n"
    "  sudo usermod -aG %2 %1\n"
    "then log in again (a service: restart it).";
constexpr const char *kLogInAgainAdvice =
    "%1 is in the %2 group, which the udev rule opens the ControlPanel to, but this session began "
    "before %1 joined it: log in again (a service: restart it).";
// Stands for the user's name when it cannot be found.
constexpr const char *kUserPlaceholder = "USER";
constexpr const char *kBusyText = "another program holds it";
constexpr const char *kBusyAdvice =
    "Close the other program that uses the ControlPanel (another zelUpdate, for example) and try "
    "again.";

// The unit chosen by its port or serial number is not attached.
constexpr const char *kNoPanelAtPortText = "No ControlPanel is attached at USB port %1";
constexpr const char *kNoPanelWithSerialText = "No ControlPanel with serial number %1 is attached";

// A ControlPanel followed through its restarts: formatted with its USB port and the time-out in
// seconds. Before anything was written...
constexpr const char *kNeverLeftText =
    "The ControlPanel at USB port %1 did not restart within %2 s of its bootloader entry command: "
    "nothing was written; power it off and on, then run the update again";
constexpr const char *kNotBackInBootloaderText =
    "The ControlPanel at USB port %1 did not come back within %2 s of its restart into its "
    "bootloader: nothing was written; power it off and on, then run the update again";
// ...and after the firmware was written and verified.
constexpr const char *kNotBackText =
    "The ControlPanel at USB port %1 did not come back within %2 s: its firmware was written and "
    "verified; power it off and on";
constexpr const char *kNotLeftForApplicationText =
    "The ControlPanel at USB port %1 did not restart within %2 s of its bootloader exit command: "
    "its firmware was written and verified; power it off and on";
constexpr const char *kExitNotConfirmedText =
    "The ControlPanel at USB port %1 did not confirm its bootloader exit command: its firmware "
    "was written and verified; power it off and on";
constexpr const char *kBackButSilentText =
    "The ControlPanel at USB port %1 came back but does not answer: its firmware was written and "
    "verified; power it off and on";
constexpr const char *kBoardExitNotConfirmedText =
    "The ZEL02 control board behind the ControlPanel at USB port %1 did not confirm its boot exit "
    "command: its firmware was written and verified; power it off and on";

// Another program updates the unit: the box's text and advice, and the detail, formatted with
// the unit's USB port, the program and its process.
constexpr const char *kUnitBusyText = "The ControlPanel is being updated by another program";
constexpr const char *kUnitBusyAdvice = "Wait until that update has ended, then try again";
constexpr const char *kUnitBusyDetail =
    "The ControlPanel at USB port %1 is being updated by %2 (process %3)";
constexpr const char *kUnitBusyUnknownDetail =
    "The ControlPanel at USB port %1 is being updated by another program";

// The lock path of a unit's port holds something that cannot be a lock: the update refuses, as
// for a busy unit. Formatted with the path, what stands there (kLockIs...) and who may remove it
// in a folder where only a file's owner may (kLockRemovedBy..., or nothing for this user's own).
constexpr const char *kLockUnusableText =
    "The lock file %1 cannot be used: %2. Remove it%3, then try again";
constexpr const char *kLockRemovedByRoot = " (as root)";
constexpr const char *kLockRemovedByOwner = " (as %1 or root)";
constexpr const char *kLockIsFolder = "it is a folder";
constexpr const char *kLockIsSymbolicLink = "it is a symbolic link";
constexpr const char *kLockIsFifo = "it is a named pipe (FIFO)";
constexpr const char *kLockIsSocket = "it is a socket";
constexpr const char *kLockIsDevice = "it is a device node";
constexpr const char *kLockIsHardLink = "it is a hard link, one of %1 names of the same file";
constexpr const char *kLockNotWritable = "this user may not write it";
constexpr const char *kLockChanged = "it changed while it was opened";
// Formatted with the system's words.
constexpr const char *kLockNotOpened = "it cannot be opened (%1)";
// No file can be made at the path: formatted with the path and the system's words.
constexpr const char *kLockNotCreatedText =
    "The lock file %1 cannot be created (%2): make its folder writable, or name another folder "
    "with ZELUPDATE_LOCK_DIR";
// The file system refuses the lock: formatted with the path and the system's words.
constexpr const char *kLockNotLockedText =
    "The lock file %1 cannot be locked (%2): name a folder on a local file system with "
    "ZELUPDATE_LOCK_DIR";
// The folder named for lock files cannot hold them: formatted with the folder.
constexpr const char *kLockFolderUnusableText =
    "The folder for lock files %1 (ZELUPDATE_LOCK_DIR) cannot be used: make it a folder this user "
    "may write, or name another";
// No folder takes lock files at all: the update goes on, said once a run.
constexpr const char *kNoLockFolderText =
    "no folder for lock files (/run/lock, $XDG_RUNTIME_DIR): nothing keeps another program from "
    "updating the same ControlPanel at the same time";
// An earlier update of the unit ended without finishing (killed, power lost, crashed): formatted
// with the port and the time it started.
constexpr const char *kUnfinishedText =
    "The last update of the ControlPanel at USB port %1, started %2, did not finish: the "
    "ControlPanel or its control board may still run its bootloader.";

// After a failed control-board walk, where the unit is followed.
constexpr const char *kBoardLeftInBootloaderText =
    "The ZEL02 control board stays in its bootloader";

// Where a ControlPanel is after a failed or interrupted walk, once it was sent back to its
// application and followed; formatted with its USB port (and the time-out in seconds). A
// bootloader that lost a page command's echo still waits for the page's data and takes the exit
// command for it: the unit stays there.
constexpr const char *kPanelMayStayInBootloaderText =
    "The ControlPanel at USB port %1 may still run its bootloader";
constexpr const char *kPanelStayedInBootloaderText =
    "The ControlPanel at USB port %1 did not restart within %2 s of its bootloader exit command: "
    "it still runs its bootloader";
constexpr const char *kPanelNotBackAfterFailureText =
    "The ControlPanel at USB port %1 did not come back within %2 s of its bootloader exit "
    "command: power it off and on";
constexpr const char *kPanelBackUnchangedText =
    "The ControlPanel at USB port %1 is back in its application, its firmware as it was";

// Told the target runs its bootloader, and no bootloader of the target took a page: what else the
// unit may run. Formatted with the unit's USB port.
constexpr const char *kNoPanelBootloaderText =
    "The ControlPanel at USB port %1 did not answer as its bootloader does: nothing was written. "
    "Its control board may run its bootloader, or the ControlPanel its application";
constexpr const char *kNoBoardBootloaderText =
    "No bootloader of the ZEL02 control board answered behind the ControlPanel at USB port %1: "
    "nothing was written. The ControlPanel may run its own bootloader, or both their applications";

// A ControlPanel whose USB port cannot be found (sysfs gives none) cannot be told apart from
// another after a restart. Formatted with its hidraw node.
constexpr const char *kPortUnknownText =
    "The USB port of the ControlPanel at %1 cannot be found, so it cannot be followed through its "
    "restarts: nothing was sent";
constexpr const char *kPortUnknownAdvice =
    "Update it with the window, zelUpdate, which waits a fixed time for each restart";

// After an entry command whose echo did not come, where the unit is followed.
constexpr const char *kMayBeInBootloaderText =
    "The target may have started its bootloader all the same";
