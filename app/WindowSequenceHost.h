#pragma once

#include "ProgressDialogReporter.h"
#include "SequenceHost.h"
#include "SteadyProgressDialog.h"

#include <memory>

class QWidget;

// The update sequence's user side in the window: its dialogs and message boxes, all parented to
// the window.
class WindowSequenceHost : public SequenceHost
{
public:
    explicit WindowSequenceHost(QWidget &window) : window(window), walkProgress(&window) {}

    void showConnectionError(const ConnectionProblem &problem) override;
    void showError(const QString &text) override;
    void showMessage(const QString &text) override;
    QString chooseHexFile() override;
    void startWait(const QString &label, int steps) override;
    void waitStep(int value) override;
    void restartWait() override;
    void finishWait() override;
    void pause(int milliseconds) override;
    ProgressReporter &progress() override { return walkProgress; }
    QString frontEnd() const override { return QStringLiteral("window"); }
    void historyNotWritten(const QString &why) override;

private:
    QWidget &window;
    ProgressDialogReporter walkProgress;
    std::unique_ptr<SteadyProgressDialog> waitDialog;
};
