#pragma once

#include "UpdateEvents.h"
#include "UpdateProgress.h"

#include <QString>

// What progress on the terminal calls a phase: "Entering the bootloader", "Writing", ...
const char *phaseTitle(UpdatePhase phase);

// How an update's phases and their progress reach the user: a line on the terminal, or JSON.
class PhaseView
{
public:
    virtual ~PhaseView() = default;

    // A phase begins, of `total` units: pages when writing or verifying, wait steps in a fixed
    // wait; 0 when it has no measure.
    virtual void begin(UpdatePhase phase, int total) = 0;
    // `done` units of the phase are done.
    virtual void advance(int done) = 0;
    // A message is about to be written under the progress: a line still being redrawn ends.
    virtual void settle() = 0;
    // The unit the update took; its USB port is named with the phases that follow it through its
    // restarts.
    virtual void chosen(const UnitIdentity &unit) { unitPort = unit.port; }
    // From here on an interruption could leave the unit in a bootloader.
    virtual void entering() {}
    // A warning, said on standard error as well.
    virtual void warned(const QString &text) { (void)text; }

protected:
    // The phase's title, with the unit's port where the phase follows the unit.
    QString title(UpdatePhase phase) const;

    QString unitPort;
};
