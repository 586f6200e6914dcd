#pragma once

// How long the program waits for a ControlPanel that restarts, and how often it looks: each
// figure named once.

// The fixed wait the window keeps for each restart of the ControlPanel, and both front ends for
// the control board's bootloader to start: ten steps of 300 ms.
constexpr int kFixedWaitSteps = 10;
constexpr int kFixedWaitStepMs = 300;
constexpr int kFixedWaitMs = kFixedWaitSteps * kFixedWaitStepMs;

// A ControlPanel followed at its USB port: how long its old instance may take to leave the bus
// once the command that restarts it was echoed, and how long it may then take to come back at
// the same port, opened.
struct RestartTimeouts
{
    int departureMs = 5000;
    int returnMs = 15000;
};

// How often a followed unit is looked for (hid_enumerate, which opens nothing): an update every
// 50 ms; a probe, which times the restart, every 5 ms.
constexpr int kFollowPollMs = 50;
constexpr int kProbePollMs = 5;
