#include "UpdateProgress.h"

#include <QString>

const char *phaseName(UpdatePhase phase)
{
    switch (phase) {
    case UpdatePhase::Connecting:
        return "connecting";
    case UpdatePhase::EnteringBootloader:
        return "entering";
    case UpdatePhase::WaitingForBootloader:
        return "waiting";
    case UpdatePhase::AwaitingDeparture:
        return "departing";
    case UpdatePhase::AwaitingReturn:
        return "returning";
    case UpdatePhase::Writing:
        return "writing";
    case UpdatePhase::Verifying:
        return "verifying";
    case UpdatePhase::LeavingBootloader:
        return "leaving";
    case UpdatePhase::WaitingForApplication:
        return "restarting";
    case UpdatePhase::ConfirmingApplication:
        return "confirming";
    }
    return "";
}

std::optional<UpdatePhase> phaseNamed(const QString &name)
{
    for (int at = int(UpdatePhase::Connecting); at <= int(UpdatePhase::ConfirmingApplication); ++at)
        if (name == QLatin1String(phaseName(UpdatePhase(at))))
            return UpdatePhase(at);
    return std::nullopt;
}

bool pastEntry(UpdatePhase phase)
{
    return phase != UpdatePhase::Connecting;
}

bool pastEntry(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(phaseName(UpdatePhase::Connecting));
}
