#pragma once

// Header-only, so that the shared test library stays free of the simulated devices: only the
// tests that link zel_simdevices include it.

#include "SimulatedDevices.h"

// The one set of simulated devices behind hidapi's functions in this test process.
inline sim::SimulatedDevices &devices()
{
    return sim::SimulatedDevices::instance();
}
