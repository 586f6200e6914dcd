#pragma once

#include "ProgressReporter.h"
#include "SteadyProgressDialog.h"

#include <memory>

// A page walk's progress as an application-modal dialog without a cancel button, which lives
// from the walk's start to its finish.
class ProgressDialogReporter : public ProgressReporter
{
public:
    explicit ProgressDialogReporter(QWidget *parent) : parent(parent) {}

    void start(int maximum) override;
    void step(int value) override;
    void startVerifying(int value) override;
    void finish() override;

private:
    QWidget *parent;
    std::unique_ptr<SteadyProgressDialog> dialog;
};
