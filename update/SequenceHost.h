#pragma once

#include "ProgressReporter.h"
#include "UpdateResult.h"

#include <QString>

#include <cstdio>

enum class UpdateTarget
{
    ControlPanel,
    ControlBoard,
};

// What an update sequence needs from the program around it: the user's answers, the messages,
// the wait indicator and the programmers. The window answers with dialogs; a test with a script.
class SequenceHost
{
public:
    virtual ~SequenceHost() = default;

    // Says why no ControlPanel can be opened, with advice beneath.
    virtual void showConnectionError(const QString &text, const QString &advice) = 0;
    // A critical message titled "Error".
    virtual void showError(const QString &text) = 0;
    // A plain message with an Ok button.
    virtual void showMessage(const QString &text) = 0;
    // The HEX file to write; empty when the user chose none.
    virtual QString chooseHexFile() = 0;

    // The wait indicator, over ten steps: shown by startWait, moved by waitStep, shown again from
    // its start by restartWait, gone after finishWait.
    virtual void startWait(const QString &label) = 0;
    virtual void waitStep(int value) = 0;
    virtual void restartWait() = 0;
    virtual void finishWait() = 0;

    // Writes and verifies the open file on the target, whose bootloader is running.
    virtual UpdateResult program(UpdateTarget target, std::FILE *file) = 0;
};
