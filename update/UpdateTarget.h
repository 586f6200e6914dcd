#pragma once

#include "CommandChannel.h"
#include "HexLoader.h"
#include "ImageSummary.h"
#include "PageWalk.h"
#include "TargetProfile.h"
#include "UpdateProgress.h"
#include "UpdateResult.h"
#include "WalkResult.h"

#include <QString>

#include <cstdio>

// Writes and verifies a loaded image on a target whose bootloader runs.
using ImageWriter = WalkResult (*)(CommandChannel &channel, const TargetProfile &profile,
                                   const LoadedImage &loaded, UpdateProgress &progress);

class TargetProtocol;

// Everything that sets the two targets' updates apart.
struct UpdateTarget
{
    const char *name;  // as the command line names it
    const char *title; // as messages name it
    TargetProfile profile;
    HexVariant variant;
    CommandLetters entryCommand;
    // The ControlPanel restarts into its bootloader: it leaves the bus during the wait, is opened
    // again after it, starts programming itself, and is sent back to its application afterwards,
    // with a second wait. The control board's bootloader starts behind a ControlPanel that stays
    // open; the sequence starts it after the wait and its programmer ends it.
    bool restartsIntoBootloader;
    const char *successText;
    ImageWriter write;
    // How an update takes it through its bootloader.
    const TargetProtocol &protocol;
};

extern const UpdateTarget kControlPanelTarget;
extern const UpdateTarget kControlBoardTarget;

// "panel" or "board"; null for any other name.
const UpdateTarget *targetNamed(const QString &name);

// Loads the open HEX file for the target and, when it loads, writes it. A file the loader refuses
// sends nothing and ends the walk as FileRefused, with the loader's message. Fills `loaded`, when
// given, once the file has been loaded.
WalkResult programFile(const UpdateTarget &target, CommandChannel &channel,
                       const TargetProfile &profile, std::FILE *file, UpdateProgress &progress,
                       ImageSummary *loaded = nullptr);

// The same, with the result as its text: empty on success, else the first error met.
UpdateResult programHexFile(const UpdateTarget &target, CommandChannel &channel,
                            const TargetProfile &profile, std::FILE *file, UpdateProgress &progress,
                            ImageSummary *loaded = nullptr);
