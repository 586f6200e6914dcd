#pragma once

#include "AttachedUnits.h"
#include "CommandChannel.h"
#include "Pause.h"
#include "ProbeReport.h"
#include "UnitSelection.h"

// Measures on a real unit what the program can only assume, writing nothing to its flash: the
// round trip of its connection check and, when asked, one restart into its bootloader and back.
// It sends the ControlPanel only its connection check, its bootloader entry command and, to its
// bootloader, the exit command; never the start command, which may begin programming. The control
// board is never probed: leaving its bootloader without programming it is not defined.

// Connection checks sent to time the link.
constexpr int kProbeChecks = 200;
// Checks that fail one after another before the probe gives up on the link: a unit that does not
// answer would otherwise hold it for 200 reply time-outs.
constexpr int kProbeSilentChecks = 3;

enum class ProbeStep
{
    LinkChecks,      // the connection checks
    IntoBootloader,  // the bootloader entry command, then the unit followed at its port
    IntoApplication, // the bootloader exit command, then the unit followed again
    FinalCheck,      // one connection check after the return
};

// The user's side of a probe.
class ProbeHost : public Pause
{
public:
    // Whether the unit may be restarted into its bootloader and back. Asked once it is chosen and
    // locked, before anything is sent to it; false ends the probe with nothing sent.
    virtual bool restartAllowed(const AttachedUnit &unit) = 0;
    virtual void stepBegins(ProbeStep step, const AttachedUnit &unit) = 0;
    // No folder takes lock files: the probe goes on without a lock.
    virtual void lockFolderMissing() {}
    // The restart command is about to be sent: from now on an interruption must not end the
    // probe before the unit is back in its application.
    virtual void restartBegins() {}
    // Asked once the unit is back in its application: true when the user asked the probe to
    // stop meanwhile, which then ends it without its last check.
    virtual bool stopRequested() const { return false; }
};

struct ProbeRequest
{
    UnitChoice unit; // chosen as an update chooses it (selectUnit)
    bool restart = false;
    RestartTimeouts timing;
};

// Probes the chosen unit, holding its lock (UnitLock) throughout. Once it sent the restart command
// it always sends the way back, unless the unit never came back to its bootloader. Its lock's
// mark stays unfinished when it ends with the unit perhaps in its bootloader; otherwise a mark an
// earlier update left is put back as it was. The channel is closed when it returns.
ProbeReport probeUnit(ProbeHost &host, CommandChannel &channel, const ProbeRequest &request);
