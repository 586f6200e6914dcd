#pragma once

#include "ImageSummary.h"
#include "PageWalk.h"
#include "UpdateProgress.h"

#include <QString>

#include <memory>

// Why no ControlPanel could be opened: a text, advice beneath it, and, when a ControlPanel is
// attached but cannot be opened by this user, what was found and what to do.
struct ConnectionProblem
{
    enum class Kind
    {
        NoPanel,       // none attached or none that opens
        SeveralPanels, // more than one attached and none chosen
        NotAttached,   // the one chosen is not attached
        Busy, // another program updates it, or its lock file cannot be used; `detail` says which
    };
    Kind kind = Kind::NoPanel;
    QString text;
    QString advice;
    QString detail;
    QString ports; // the attached units' ports, "1-1.2, 1-1.4"
};

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

// The user's side of an update sequence: the answers it asks for, the messages it gives, and
// where it announces its phases and progress. The window answers with dialogs, the command line
// with its terminal, a test with a recording. The sequence owns everything that talks to the
// device.
class SequenceHost
{
public:
    virtual ~SequenceHost() = default;

    // No ControlPanel can be used.
    virtual void showConnectionError(const ConnectionProblem &problem) = 0;
    // A critical message titled "Error".
    virtual void showError(const QString &text) = 0;
    // A plain message with an Ok button: the result of an update, or why it could not go on.
    virtual void showMessage(const QString &text) = 0;
    // The firmware to write; an empty file name when the user chose none.
    virtual ChosenFirmware chooseFirmware() = 0;
    // The unit that answered the connection check: its USB port (empty when unknown) and serial
    // number.
    virtual void unitChosen(const QString &port, const QString &serial)
    {
        Q_UNUSED(port);
        Q_UNUSED(serial);
    }

    // No folder takes lock files: the update goes on without a lock. Told at each update.
    virtual void lockFolderMissing() {}

    // Where the sequence and the programmers announce each phase and its progress.
    virtual UpdateProgress &progress() = 0;
    // Blocks for the pause before each step of a fixed wait, and between the looks for a unit
    // that is followed through its restart; a test host may only count it.
    virtual void pause(int milliseconds) = 0;
    // The sequence will not wait again: a wait indicator kept up between its waits can go.
    virtual void finishWait() = 0;

    // Names the front end in the update history.
    virtual QString frontEnd() const = 0;
    // The history could not be written; the update goes on regardless.
    virtual void historyNotWritten(const QString &why) = 0;
};
