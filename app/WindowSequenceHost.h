#pragma once

#include "SequenceHost.h"
#include "SteadyProgressDialog.h"

#include <memory>

class MainWin;

// The update sequence's side of the window: its dialogs, its message boxes and its programmers.
class WindowSequenceHost : public SequenceHost
{
public:
    explicit WindowSequenceHost(MainWin &window) : window(window) {}

    void showConnectionError(const QString &text, const QString &advice) override;
    void showError(const QString &text) override;
    void showMessage(const QString &text) override;
    QString chooseHexFile() override;
    void startWait(const QString &label) override;
    void waitStep(int value) override;
    void restartWait() override;
    void finishWait() override;
    UpdateResult program(UpdateTarget target, std::FILE *file) override;

private:
    MainWin &window;
    std::unique_ptr<SteadyProgressDialog> waitDialog;
};
