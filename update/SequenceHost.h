#pragma once

#include "ProgressReporter.h"

#include <QString>

// Why no ControlPanel could be opened: a text, advice beneath it, and, when a ControlPanel is
// attached but cannot be opened by this user, what was found and what to do.
struct ConnectionProblem
{
    QString text;
    QString advice;
    QString detail;
};

// The steps of an update a front end may want to name; writing and verifying come to its
// ProgressReporter.
enum class UpdatePhase
{
    EnteringBootloader,
    Waiting,
    LeavingBootloader, // the ControlPanel's return to its application
};

// The user's side of an update sequence: the answers it asks for, the messages it gives, the wait
// indicator and the programmers' progress. The window answers with dialogs, the command line with
// its terminal, a test with a recording. The sequence owns everything that talks to the device.
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
    // The HEX file to write; empty when the user chose none.
    virtual QString chooseHexFile() = 0;

    // The wait indicator, over `steps` steps: shown by startWait, moved by waitStep after each
    // pause, shown again from its start by restartWait, gone after finishWait.
    virtual void startWait(const QString &label, int steps) = 0;
    virtual void waitStep(int value) = 0;
    virtual void restartWait() = 0;
    virtual void finishWait() = 0;
    // Blocks for the pause before each wait step; a test host may only count it.
    virtual void pause(int milliseconds) = 0;

    // Where the programmers report their page walks.
    virtual ProgressReporter &progress() = 0;

    virtual void phaseChanged(UpdatePhase) {}

    // Names the front end in the update history.
    virtual QString frontEnd() const = 0;
    // The history could not be written; the update goes on regardless.
    virtual void historyNotWritten(const QString &why) = 0;
};
