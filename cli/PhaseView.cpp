#include "PhaseView.h"

const char *phaseName(CliPhase phase)
{
    switch (phase) {
    case CliPhase::Entering:
        return "entering";
    case CliPhase::Waiting:
        return "waiting";
    case CliPhase::Writing:
        return "writing";
    case CliPhase::Verifying:
        return "verifying";
    case CliPhase::Leaving:
        return "leaving";
    }
    return "";
}

const char *phaseTitle(CliPhase phase)
{
    switch (phase) {
    case CliPhase::Entering:
        return "Entering the bootloader";
    case CliPhase::Waiting:
        return "Waiting for the bootloader";
    case CliPhase::Writing:
        return "Writing";
    case CliPhase::Verifying:
        return "Verifying";
    case CliPhase::Leaving:
        return "Leaving the bootloader";
    }
    return "";
}
