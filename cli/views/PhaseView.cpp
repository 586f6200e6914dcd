#include "PhaseView.h"

const char *phaseTitle(UpdatePhase phase)
{
    switch (phase) {
    case UpdatePhase::Connecting:
        return "Connecting to the ControlPanel";
    case UpdatePhase::EnteringBootloader:
        return "Entering the bootloader";
    case UpdatePhase::WaitingForBootloader:
        return "Waiting for the bootloader";
    case UpdatePhase::AwaitingDeparture:
        return "Waiting for the ControlPanel to restart";
    case UpdatePhase::AwaitingReturn:
        return "Waiting for the ControlPanel to come back";
    case UpdatePhase::Writing:
        return "Writing";
    case UpdatePhase::Verifying:
        return "Verifying";
    case UpdatePhase::LeavingBootloader:
        return "Leaving the bootloader";
    case UpdatePhase::WaitingForApplication:
        return "Waiting for the application";
    case UpdatePhase::ConfirmingApplication:
        return "Checking the ControlPanel's application";
    }
    return "";
}

QString PhaseView::title(UpdatePhase phase) const
{
    const QString text = QString::fromLatin1(phaseTitle(phase));
    const bool followsUnit = phase == UpdatePhase::AwaitingDeparture ||
                             phase == UpdatePhase::AwaitingReturn ||
                             phase == UpdatePhase::ConfirmingApplication;
    if (!followsUnit || unitPort.isEmpty())
        return text;
    return text + QStringLiteral(" at USB port ") + unitPort;
}
