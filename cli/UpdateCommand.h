#pragma once

#include "CliStreams.h"
#include "UnitSelection.h"
#include "UpdateTarget.h"

struct UpdateRequest
{
    const UpdateTarget *target = nullptr;
    QString file;
    bool json = false;
    bool allowNoEndRecord = false;  // --allow-no-eof
    int waitSeconds = -1;           // --wait; -1: a ControlPanel must be attached already
    UnitChoice unit;                // --port, --serial
    int restartTimeoutSeconds = 15; // --restart-timeout
};

// `update --target T FILE`: the window's update sequence, with the file loaded first so that a
// file the update would refuse never sends a target into its bootloader. Returns the exit
// status for the sequence's end (ExitCodes.h).
int runUpdate(CliStreams &io, const UpdateRequest &request);
