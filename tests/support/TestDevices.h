#pragma once

// Header-only, so that the shared test library stays free of the simulated devices: only the
// tests that link zel_simdevices include it.

#include "SimulatedDevices.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// The one set of simulated devices behind hidapi's functions in this test process.
inline sim::SimulatedDevices &devices()
{
    return sim::SimulatedDevices::instance();
}

// What the devices counted since mark(): opens, closes, hid_exit calls and the reports written.
class DeviceTally
{
public:
    void mark()
    {
        opensBefore = devices().openCount();
        closesBefore = devices().closeCount();
        exitsBefore = devices().exitCount();
        reportsBefore = devices().reportsWritten().size();
    }

    int opens() const { return devices().openCount() - opensBefore; }
    int closes() const { return devices().closeCount() - closesBefore; }
    int exits() const { return devices().exitCount() - exitsBefore; }
    std::vector<std::vector<std::uint8_t>> sent() const
    {
        const auto all = devices().reportsWritten();
        return {all.begin() + std::ptrdiff_t(reportsBefore), all.end()};
    }

private:
    int opensBefore = 0;
    int closesBefore = 0;
    int exitsBefore = 0;
    std::size_t reportsBefore = 0;
};
