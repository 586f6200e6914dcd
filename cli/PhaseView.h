#pragma once

// The steps of an update as the command line shows them, in the order they come.
enum class CliPhase
{
    Entering,  // the target is sent into its bootloader
    Waiting,   // it restarts into it (ControlPanel) or its bootloader starts (control board)
    Writing,   // the used pages are written
    Verifying, // and read back
    Leaving,   // the ControlPanel restarts into its application; the board's boot exit
};

// The name JSON Lines give the phase: "entering", "waiting", "writing", "verifying", "leaving".
const char *phaseName(CliPhase phase);
// What progress on the terminal calls it: "Entering the bootloader", "Writing", ...
const char *phaseTitle(CliPhase phase);

// How an update's phases and their progress reach the user: a line on the terminal, or JSON.
class PhaseView
{
public:
    virtual ~PhaseView() = default;

    // A phase begins, of `total` units: pages when writing or verifying, wait steps otherwise;
    // 0 when it has no measure.
    virtual void begin(CliPhase phase, int total) = 0;
    // `done` units of the phase are done.
    virtual void advance(int done) = 0;
    // A message is about to be written under the progress: a line still being redrawn ends.
    virtual void settle() = 0;
};
