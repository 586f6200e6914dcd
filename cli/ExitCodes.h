#pragma once

#include "UpdateSequence.h"

// What zelupdate-cli's exit status tells a script. --help and the README list them.
enum ExitCode : int
{
    kExitOk = 0,                 // updated and verified; the file is good; a device is usable
    kExitFailedWhileWriting = 1, // writing had begun: the firmware may be incomplete
    kExitUsage = 2,              // the command line was not understood
    kExitFileRefused = 3,        // the file was refused; nothing was sent
    kExitNoControlPanel = 4,     // none attached, none this user may open, or more than one
    kExitNotAnswering = 5,       // no answer, no bootloader entry or exit, before any write
    kExitNotBack = 6, // updated and verified, but the unit did not return to its application
};

inline ExitCode exitCodeFor(SequenceEnd end)
{
    switch (end) {
    case SequenceEnd::Updated:
        return kExitOk;
    case SequenceEnd::FailedWhileWriting:
    // The target entered its bootloader: whatever is written, it must be updated again.
    case SequenceEnd::FileRefusedInBootloader:
        return kExitFailedWhileWriting;
    case SequenceEnd::FileRefused:
        return kExitFileRefused;
    case SequenceEnd::NoControlPanel:
        return kExitNoControlPanel;
    case SequenceEnd::DeviceNotAnswering:
        return kExitNotAnswering;
    case SequenceEnd::NotBackInApplication:
        return kExitNotBack;
    case SequenceEnd::NoFileChosen:
        break;
    }
    // The command line always names a file, so the sequence cannot end without one.
    return kExitUsage;
}
