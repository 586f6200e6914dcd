#include "UpdateEvents.h"

void EventFanOut::unitChosen(const UnitIdentity &unit)
{
    for (UpdateEvents *subscriber : subscribers)
        subscriber->unitChosen(unit);
}

void EventFanOut::phaseBegins(UpdatePhase phase, int total)
{
    for (UpdateEvents *subscriber : subscribers)
        subscriber->phaseBegins(phase, total);
}

void EventFanOut::progressed(int done)
{
    for (UpdateEvents *subscriber : subscribers)
        subscriber->progressed(done);
}

void EventFanOut::walkEnded()
{
    for (UpdateEvents *subscriber : subscribers)
        subscriber->walkEnded();
}

void EventFanOut::enteringBootloader()
{
    for (UpdateEvents *subscriber : subscribers)
        subscriber->enteringBootloader();
}

void EventFanOut::ended(const UpdateOutcome &outcome)
{
    for (UpdateEvents *subscriber : subscribers)
        subscriber->ended(outcome);
}
