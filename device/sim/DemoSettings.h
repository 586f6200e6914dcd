#pragma once

// What the -sim programs read from their environment to set up the simulated devices:
//   ZELUPDATE_SIM_UNITS       the ControlPanels' USB ports, comma-separated (default 1-1)
//   ZELUPDATE_SIM_RESTART_MS  how long a ControlPanel restart takes (default 1500)
//   ZELUPDATE_SIM_FAULTS      faults to inject, comma-separated KIND@WHERE[@PORT]: WHERE is #N
//                             (the N-th report written, from 0) or two command letters with an
//                             optional occurrence, Rr:3 (the fourth 'R','r' report, from 0)
//   ZELUPDATE_SIM_PORTLESS    units whose USB port sysfs does not give, by their ports
//   ZELUPDATE_SIM_BOOTLOADER_SERIAL  the serial number a ControlPanel's bootloader reports,
//                             comma-separated SERIAL[@PORT]
//   ZELUPDATE_SIM_RESTARTS    how ControlPanels restart, comma-separated KIND[:N][@PORT]: from
//                             their N-th restart on (from 0; default 0)
//   ZELUPDATE_SIM_REPLAY      a recording (zelupdate-cli --record) the devices answer as instead
//                             of the simulated units; none of the variables above with it
//   ZELUPDATE_SIM_REPLAY_SPEED  how much faster than recorded it is replayed (default 1)
// An entry without @PORT is for every unit; of a bootloader serial or a restart kind, a later
// entry for a unit wins over an earlier one.
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

struct BootloaderSerialEntry
{
    std::string serial;
    std::string port; // empty: every unit
};

struct RestartQuirkEntry
{
    RestartQuirk quirk;
    int fromRestart;
    std::string port; // empty: every unit
};

struct DemoSettings
{
    std::vector<std::string> ports{"1-1"};
    std::chrono::milliseconds restartTime{1500};
    std::vector<FaultEntry> faults;
    std::vector<std::string> portless;
    std::vector<BootloaderSerialEntry> bootloaderSerials;
    std::vector<RestartQuirkEntry> restartQuirks;
    std::string replayFile; // empty: the simulated units answer
    double replaySpeed = 1;
};

// The fastest replay: a thousand times past a restart of seconds is still a few microseconds.
constexpr double kMaxReplaySpeed = 1000000;

// What a value was found to be: accepted, and then the result is set, or refused and why,
// naming the part at fault (and, from readDemoSettings, the variable).
struct SettingCheck
{
    std::string refusal; // empty: accepted

    bool accepted() const { return refusal.empty(); }
};

SettingCheck parseUnitList(const std::string &text, std::vector<std::string> &ports);
SettingCheck parseRestartTime(const std::string &text, std::chrono::milliseconds &time);
// `ports` are the units an entry may name.
SettingCheck parseFaultList(const std::string &text, const std::vector<std::string> &ports,
                            std::vector<FaultEntry> &faults);
SettingCheck parsePortlessList(const std::string &text, const std::vector<std::string> &ports,
                               std::vector<std::string> &portless);
SettingCheck parseBootloaderSerials(const std::string &text, const std::vector<std::string> &ports,
                                    std::vector<BootloaderSerialEntry> &serials);
SettingCheck parseRestartQuirks(const std::string &text, const std::vector<std::string> &ports,
                                std::vector<RestartQuirkEntry> &quirks);

SettingCheck parseReplaySpeed(const std::string &text, double &speed);
// A replay takes no settings of the simulated units, and a speed needs a replay.
SettingCheck checkReplayAlone(const DemoSettings &settings);

// Reads the variables; an unset or empty one keeps its default.
SettingCheck readDemoSettings(DemoSettings &settings);

} // namespace sim
