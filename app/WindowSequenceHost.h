#pragma once

#include "ProgressDialogReporter.h"
#include "SequenceHost.h"
#include "SteadyProgressDialog.h"
#include "UpdateTarget.h"

#include <memory>

class QWidget;

// The update sequence's user side in the window: its dialogs and message boxes, all parented to
// the window. The waits show one dialog, labelled for the target, shown again for the second
// wait; the page walks another.
class WindowSequenceHost : public SequenceHost, private UpdateEvents
{
public:
    // `stepPause` takes each step of the waits; the window's sleeps (ThreadSleep).
    WindowSequenceHost(QWidget &window, const UpdateTarget &target, Pause &stepPause)
        : window(window), target(target), stepPause(stepPause), walkProgress(&window)
    {
    }

    ChosenFirmware chooseFirmware() override;
    UpdateEvents &events() override { return *this; }
    void pause(int milliseconds) override;
    void finishWait() override;
    QString frontEnd() const override { return QStringLiteral("window"); }
    void historyNotWritten(const QString &why) override;

private:
    // What the update announces, shown in the window's dialogs.
    void phaseBegins(UpdatePhase phase, int total) override;
    void progressed(int done) override;
    void walkEnded() override;
    // The end: the box the outcome calls for.
    void ended(const UpdateOutcome &outcome) override;

    void showConnectionError(const ConnectionProblem &problem);
    void showError(const QString &text);
    void showMessage(const QString &text);

    void startWait(int steps);
    void waitStep(int value);
    void restartWait();

    QWidget &window;
    const UpdateTarget &target;
    Pause &stepPause;
    ProgressDialogReporter walkProgress;
    std::unique_ptr<SteadyProgressDialog> waitDialog;
    UpdatePhase phase = UpdatePhase::Connecting;
};
