#pragma once

#include "SteadyProgressDialog.h"
#include "UpdateProgress.h"

#include <memory>

// A page walk's progress as an application-modal dialog without a cancel button, which lives
// from the start of writing to the walk's end. One bar runs over both walks: the pages written,
// then the pages verified.
class ProgressDialogReporter : public UpdateProgress
{
public:
    explicit ProgressDialogReporter(QWidget *parent) : parent(parent) {}

    // Writing and verifying; the dialog knows no other phase.
    void phaseBegins(UpdatePhase phase, int total) override;
    // `done` pages of the current walk are done.
    void advanced(int done) override;
    void walkEnded() override;

private:
    void startWriting(int pages);
    void startVerifying();

    QWidget *parent;
    std::unique_ptr<SteadyProgressDialog> dialog;
    int pages = 0;
    int doneBefore = 0; // the steps of the walks before this one
};
