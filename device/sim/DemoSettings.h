#pragma once

// What the -sim programs read from their environment to set up the simulated devices:
//   ZELUPDATE_SIM_UNITS       the ControlPanels' USB ports, comma-separated (default 1-1)
//   ZELUPDATE_SIM_RESTART_MS  how long a ControlPanel restart takes (default 1500)
//   ZELUPDATE_SIM_FAULTS      faults to inject, comma-separated KIND@WHERE[@PORT]: WHERE is #N
//                             (the N-th report written, from 0) or two command letters with an
//                             optional occurrence, Rr:3 (the fourth 'R','r' report, from 0)
// Plain functions, so each can be tested without a process.

#include "SimulatedDevices.h"

#include <chrono>
#include <string>
#include <vector>

namespace sim {

struct FaultEntry
{
    FaultTrigger trigger; // its port is empty for every unit
    Fault fault;
};

struct DemoSettings
{
    std::vector<std::string> ports{"1-1"};
    std::chrono::milliseconds restartTime{1500};
    std::vector<FaultEntry> faults;
};

// Each returns why `text` is refused, naming the part at fault; an empty text when it is good,
// and then the result is set.
std::string parseUnitList(const std::string &text, std::vector<std::string> &ports);
std::string parseRestartTime(const std::string &text, std::chrono::milliseconds &time);
// `ports` are the units a fault may name.
std::string parseFaultList(const std::string &text, const std::vector<std::string> &ports,
                           std::vector<FaultEntry> &faults);

// Reads the three variables; an unset or empty one keeps its default. Returns why a value is
// refused, naming the variable; empty when all are good.
std::string readDemoSettings(DemoSettings &settings);

} // namespace sim
