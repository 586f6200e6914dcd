#pragma once

#include "UpdateSequence.h"

#include <iterator>

// What zelupdate-cli's exit status tells a script. --help lists them from kExitCodeMeanings.
enum ExitCode : int
{
    kExitOk = 0,                 // updated and verified; the file is good; a device is usable
    kExitFailedWhileWriting = 1, // writing had begun: the firmware may be incomplete
    kExitUsage = 2,              // the command line was not understood, or a restart not confirmed
    kExitFileRefused = 3,        // the file was refused; nothing was sent
    kExitNoControlPanel = 4,     // none (chosen) attached or usable, or another program's
    kExitNotAnswering = 5,       // no answer, no bootloader entry or exit, before any write
    kExitNotBack = 6, // updated and verified, but the unit did not return to its application
    kExitHistoryUnreadable = 7, // the update history is there but could not be read
};

// A process a signal ended has 128 + the signal's number as its exit status, as shells report it;
// so does zelupdate-cli when a signal ends it.
constexpr int kSignalStatusBase = 128;

struct ExitCodeMeaning
{
    ExitCode code;
    const char *meaning;
};

// Every exit code, in order, as --help explains it.
constexpr ExitCodeMeaning kExitCodeMeanings[] = {
    {kExitOk, "updated and verified; check: the file is good; list: a ControlPanel is usable; "
              "probe: every figure measured"},
    {kExitFailedWhileWriting,
     "failed or interrupted after writing began: the firmware may be incomplete; run the update "
     "again (a control board stays in its bootloader: with --in-bootloader)"},
    {kExitUsage, "usage error; probe --restart: the restart not confirmed"},
    {kExitFileRefused, "the file was refused (check: update would refuse it); nothing was sent"},
    {kExitNoControlPanel,
     "no usable ControlPanel: none attached, none at --port or --serial, no permission, more than "
     "one and none chosen, another program updates it, or its lock file cannot be used"},
    {kExitNotAnswering,
     "the device did not answer, enter or leave its bootloader before anything was written"},
    {kExitNotBack, "updated and verified, but the unit did not return to its application: power "
                   "it off and on"},
    {kExitHistoryUnreadable, "history: the update history is there but could not be read"},
};
constexpr bool everyExitCodeInOrder()
{
    for (std::size_t at = 0; at < std::size(kExitCodeMeanings); ++at)
        if (kExitCodeMeanings[at].code != int(at))
            return false;
    return std::size(kExitCodeMeanings) == kExitHistoryUnreadable + 1;
}
static_assert(everyExitCodeInOrder(), "kExitCodeMeanings explains every exit code, in order");

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
