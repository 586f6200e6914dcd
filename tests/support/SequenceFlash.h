#pragma once

// The simulated devices' flash held to a sequence's image. Header-only, as TestDevices.h is.

#include "SequenceScenario.h"
#include "TestDevices.h"

// Where the first unit's flash of the target departs from the image written on the first
// `written` used pages and erased everywhere else; empty when it does not.
inline QString flashDifference(Target target, int written)
{
    if (isPanel(target))
        return flashDifference(devices().panelFlash().data(), sim::kPanelFlashSize, target,
                               written);
    return flashDifference(devices().boardFlash().data(), sim::kBoardFlashSize, target, written);
}
