#pragma once

#include "CliStreams.h"
#include "PhaseView.h"
#include "SequenceHost.h"

#include <utility>

// Why no ControlPanel can be used, as a terminal shows it: escaped, with what to do.
QString connectionProblemText(const ConnectionProblem &problem);

// The update sequence's user side on a terminal: the firmware loaded and checked from the file
// named on the command line, the phases shown through a PhaseView, messages on standard error.
class TerminalHost : public SequenceHost, private UpdateEvents
{
public:
    TerminalHost(ChosenFirmware firmware, CliStreams &io, PhaseView &view)
        : firmware(std::move(firmware)), io(io), view(view)
    {
        announced.add(*this);
        if (io.recordedEvents)
            announced.add(*io.recordedEvents);
    }

    ChosenFirmware chooseFirmware() override { return firmware; }
    UpdateEvents &events() override { return announced; }
    QString endText(const UpdateOutcome &outcome) const override;
    bool stopRequested() const override { return io.stopRequested && io.stopRequested(); }
    void pause(int milliseconds) override;
    void finishWait() override {}
    QString frontEnd() const override { return QStringLiteral("command line"); }
    void historyNotWritten(const QString &why) override;
    void lockFolderMissing() override;

    // Writes a message on standard error, under any progress line.
    void say(const QString &text);
    // A warning: on standard error, and in the view (JSON).
    void warn(const QString &text);

private:
    void unitChosen(const UnitIdentity &unit) override;
    void phaseBegins(UpdatePhase phase, int total) override { view.begin(phase, total); }
    void progressed(int done) override { view.advance(done); }
    void enteringBootloader() override;
    void ended(const UpdateOutcome &outcome) override;

    const ChosenFirmware firmware;
    CliStreams &io;
    PhaseView &view;
    EventFanOut announced; // this host's view, and the recording when --record records
};
