#include "UpdateRun.h"

#include "RestartTiming.h"

void UpdateRun::fixedWait(UpdatePhase phase)
{
    waiting = true;
    progress.phaseBegins(phase, kFixedWaitSteps);
    for (int step = 1; step <= kFixedWaitSteps; ++step) {
        host.pause(kFixedWaitStepMs);
        progress.advanced(step);
    }
}

void UpdateRun::endWait()
{
    if (waiting)
        host.finishWait();
    waiting = false;
}
