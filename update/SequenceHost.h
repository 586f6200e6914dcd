#pragma once

#include "ConnectionProblem.h"
#include "ImageSummary.h"
#include "PageWalk.h"
#include "Pause.h"
#include "UpdateEvents.h"
#include "UpdateProgress.h"

#include <QString>

#include <memory>

// The firmware to write, as the user chose it.
struct ChosenFirmware
{
    QString file; // empty when the user chose none
    // A front end that has loaded and checked the file already hands over the image: the sequence
    // then writes exactly what was checked and never opens the file again. Null: the sequence
    // opens the file and its programmer loads it, after the bootloader entry.
    std::shared_ptr<const LoadedImage> image;
    ImageSummary summary; // the loaded image's, when `image` is given
};

// The user's side of an update sequence: the answers it asks for, where it announces what it
// does, and how the end is worded. The window answers with dialogs, the command line with its
// terminal, a test with a recording. The sequence owns everything that talks to the device.
class SequenceHost : public Pause
{
public:
    // The firmware to write; an empty file name when the user chose none.
    virtual ChosenFirmware chooseFirmware() = 0;
    // Where the front end's views hear what the update does and how it ended.
    virtual UpdateEvents &events() = 0;
    // The end as this front end's user is shown it, and the history keeps it.
    virtual QString endText(const UpdateOutcome &outcome) const;
    // Asked after each page: true stops the walk there, as a failure would.
    virtual bool stopRequested() const { return false; }
    // No folder takes lock files: the update goes on without a lock. Told at each update.
    virtual void lockFolderMissing() {}
    // The sequence will not wait again: a wait indicator kept up between its waits can go.
    virtual void finishWait() = 0;

    // Names the front end in the update history.
    virtual QString frontEnd() const = 0;
    // The history could not be written; the update goes on regardless.
    virtual void historyNotWritten(const QString &why) = 0;
};
