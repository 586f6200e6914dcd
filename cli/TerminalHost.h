#pragma once

#include "CliStreams.h"
#include "PhaseView.h"
#include "SequenceHost.h"

#include <utility>

// Why no ControlPanel can be used, as a terminal shows it: escaped, with what to do.
QString connectionProblemText(const ConnectionProblem &problem);

// The update sequence's user side on a terminal: the firmware loaded and checked from the file
// named on the command line, messages on standard error, the phases shown through a PhaseView.
class TerminalHost : public SequenceHost, private UpdateProgress
{
public:
    TerminalHost(ChosenFirmware firmware, CliStreams &io, PhaseView &view)
        : firmware(std::move(firmware)), io(io), view(view)
    {
    }

    void showConnectionError(const ConnectionProblem &problem) override;
    void showError(const QString &text) override;
    void showMessage(const QString &text) override;
    ChosenFirmware chooseFirmware() override { return firmware; }
    void unitChosen(const QString &port, const QString &serial) override;
    UpdateProgress &progress() override { return *this; }
    void pause(int milliseconds) override;
    void finishWait() override {}
    QString frontEnd() const override { return QStringLiteral("command line"); }
    void historyNotWritten(const QString &why) override;
    void lockFolderMissing() override;

    // Writes a message on standard error, under any progress line.
    void say(const QString &text);

private:
    void phaseBegins(UpdatePhase phase, int total) override;
    void advanced(int done) override { view.advance(done); }
    bool stopRequested() const override { return io.stopRequested && io.stopRequested(); }

    const ChosenFirmware firmware;
    CliStreams &io;
    PhaseView &view;
};
