#pragma once

#include "CliStreams.h"
#include "PhaseView.h"
#include "SequenceHost.h"
#include "UpdateTarget.h"

#include <QFileInfo>

#include <utility>

// The update sequence's user side on a terminal: the file named on the command line, messages
// on standard error, the waits and the page walks shown through a PhaseView.
class TerminalHost : public SequenceHost, private ProgressReporter
{
public:
    TerminalHost(const UpdateTarget &target, QString file, CliStreams &io, PhaseView &view)
        : target(target), file(std::move(file)), io(io), view(view)
    {
    }

    void showConnectionError(const ConnectionProblem &problem) override;
    void showError(const QString &text) override;
    void showMessage(const QString &text) override;
    // The history names the file wherever the update was started from.
    QString chooseHexFile() override { return QFileInfo(file).absoluteFilePath(); }
    void startWait(const QString &label, int steps) override;
    void waitStep(int value) override { view.advance(value); }
    void restartWait() override { view.advance(0); }
    void finishWait() override {}
    void pause(int milliseconds) override;
    ProgressReporter &progress() override { return *this; }
    void phaseChanged(UpdatePhase phase) override;
    QString frontEnd() const override { return QStringLiteral("command line"); }
    void historyNotWritten(const QString &why) override;

    // Writes a message on standard error, under any progress line.
    void say(const QString &text);

private:
    // The page walk.
    void start(int maximum) override;
    void step(int value) override;
    void startVerifying(int value) override;
    void finish() override {}
    // The control board's programmer ends its walk with the boot exit.
    void leaveAfterWalk(int value);

    const UpdateTarget &target;
    const QString file;
    CliStreams &io;
    PhaseView &view;
    int waitSteps = 0;
    int walkSteps = 0;
    int verifyingFrom = -1; // the step verifying began at; -1 while writing
};
