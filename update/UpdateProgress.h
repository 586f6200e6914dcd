#pragma once

#include <optional>

class QString;

// How an update tells its front end where it is. The sequence announces its own steps, the
// programmers their page walks; the window answers with its dialogs, the command line with a line
// on the terminal or JSON, a test with a recording. Nobody infers a phase from another.

// Every step of an update a front end may show, in the order they come. A phase may be skipped:
// the control board has no restart, a window waits a fixed time where the command line follows
// the unit.
enum class UpdatePhase
{
    Connecting,            // the ControlPanel is opened and its connection checked
    EnteringBootloader,    // the target is sent its bootloader entry command
    WaitingForBootloader,  // a fixed wait while it restarts into its bootloader, or while the
                           // control board's bootloader starts
    AwaitingDeparture,     // the ControlPanel is followed: its old instance leaves the bus
    AwaitingReturn,        // ...and it comes back at the same USB port
    Writing,               // the used pages are written; counts pages
    Verifying,             // and read back; counts pages
    LeavingBootloader,     // the target is sent its bootloader exit command
    WaitingForApplication, // a fixed wait while the ControlPanel restarts into its application
    ConfirmingApplication, // the ControlPanel, back, answers its connection check
};

// A short lower-case name for scripts and logs: "connecting", "entering", "waiting", "departing",
// "returning", "writing", "verifying", "leaving", "restarting", "confirming".
const char *phaseName(UpdatePhase phase);

// The phase phaseName() names so; none for any other name.
std::optional<UpdatePhase> phaseNamed(const QString &name);

// Whether an update that reached the phase may have sent its target into its bootloader.
bool pastEntry(UpdatePhase phase);
// Whether an update that reached the phase named so may have sent its target into its bootloader:
// any phase from the entry command on. A lock's mark and an update --all worker name their last
// phase so.
bool pastEntry(const QString &name);

class UpdateProgress
{
public:
    virtual ~UpdateProgress() = default;

    // A phase begins. `total` is what advanced() counts up to: the used pages while writing or
    // verifying, the wait's steps in a fixed wait; 0 when the phase has no measure.
    virtual void phaseBegins(UpdatePhase phase, int total) = 0;
    // `done` of the phase's total are done. For the page walks it is called once per page, so it
    // is also the place to keep a display responsive.
    virtual void advanced(int done) = 0;
    // A page walk is over, successful or not: after its last page, or its boot exit.
    virtual void walkEnded() {}
    // Asked after each page: true stops the walk there, as a failure would.
    virtual bool stopRequested() const { return false; }
};

// For callers that show no progress: benchmarks, scripted runs.
class SilentProgress : public UpdateProgress
{
public:
    void phaseBegins(UpdatePhase, int) override {}
    void advanced(int) override {}
};
