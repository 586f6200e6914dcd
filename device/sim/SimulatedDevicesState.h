#pragma once

// What SimulatedDevices holds, shared by its two halves: the hidapi side (SimulatedDevices.cpp)
// and the units and settings the tests and the -sim programs arrange (SimulatedUnits.cpp).

#include "ControlBoardModel.h"
#include "ControlPanelModel.h"
#include "FaultInjection.h"
#include "SimulatedDevices.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace sim {

// A ControlPanel at a USB port and the board behind it. Kept alive by the handles open on it
// after it is pulled out, so that they fail as a vanished device's do; freed with the last.
struct Unit
{
    Unit(const DeviceTiming &timing, std::string port, std::string serial)
        : port(std::move(port)), serial(std::move(serial)), panel(timing, board)
    {
    }

    std::string port;
    std::string serial;
    std::optional<std::string> bootloaderSerial; // unset: its bootloader reports `serial`
    bool portKnown = true;                       // whether sysfs gives `port` for its node
    ControlBoardModel board;
    ControlPanelModel panel;
    ReportCounts counts;
    bool attached = true;
};

} // namespace sim

// A handle as hid_open hands it out.
struct hid_device_
{
    std::shared_ptr<sim::Unit> unit; // let go at hid_close
    unsigned generation;             // the panel's power cycle it was opened in
};

namespace sim {

void abortOnViolation(const char *what);

// How many closed handles are kept, their units let go, before the oldest is freed: long enough
// that a handle used after hid_close is caught rather than taken for one opened since at the same
// address, short enough that a program opening handles all day does not grow.
constexpr std::size_t kClosedHandlesKept = 64;

struct SimulatedDevicesState
{
    SimulatedDevicesState();

    // The unit enumerated `device`-th; out of range is a caller's mistake and throws, as .at().
    Unit &unit(int device) const { return *units.at(static_cast<std::size_t>(device)); }
    // The same, but with no unit attached device 0 has erased flashes still.
    Unit &flashesOf(int device) const
    {
        return units.empty() && device == 0 ? *noUnit : unit(device);
    }
    // Where `unit` is in the enumeration, or -1 when it was pulled out.
    int indexOf(const Unit &unit) const;
    std::shared_ptr<Unit> newUnit(const std::string &port, const std::string &serial);

    DeviceTiming timing;
    std::vector<std::shared_ptr<Unit>> units;
    // What device 0's flashes read with no unit attached: erased, as nothing can write them.
    std::unique_ptr<Unit> noUnit;
    std::chrono::microseconds latency{0};
    bool realTimeouts = false;
    bool logging = true;
    FaultInjection faults;
    std::vector<std::unique_ptr<hid_device_>> openHandles;
    std::deque<std::unique_ptr<hid_device_>> closedHandles; // oldest first
    std::vector<TrafficRecord> traffic;
    int reports = 0;
    int reads = 0;
    int polls = 0;
    int opens = 0;
    int closes = 0;
    int exits = 0;
    int lastTimeout = -1;
    std::wstring lastError;
    void (*violation)(const char *) = abortOnViolation;
    void (*stateHook)(void *, const std::string &, UnitState) = nullptr;
    void *stateHookContext = nullptr;
    HidStandIn *standIn = nullptr;
};

} // namespace sim
