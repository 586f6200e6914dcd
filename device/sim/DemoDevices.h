#pragma once

// The simulated devices as the programs that stand in for hardware use them (zelUpdate-sim,
// zelupdate-cli-sim): units at the ports DemoSettings names, timed like the real devices, each
// keeping its flash and state in its own folder, shared by both programs:
// demoFlashFolder()/<port>/.

#include "DemoSettings.h"
#include "UnitFiles.h"

#include <memory>
#include <string>
#include <vector>

namespace sim {

class SimulatedDevices;

// $ZELUPDATE_SIM_DIR, else zelUpdate-sim in the user's data folder.
std::string demoFlashFolder();

// 1 ms a reply, as a full-speed USB link; restarts like the real devices, each well inside the
// program's 3 s waits; reads that nothing answers wait out their time-out.
void behaveLikeHardware(SimulatedDevices &devices);

class DemoDevices
{
public:
    // Sets the units up as `settings` say, moves flash files that earlier versions left at the
    // top of the folder into the first unit's folder, and starts each unit from its folder as
    // an earlier run left it. Messages go to standard error, after `program` and a colon; the
    // name must outlive the object.
    DemoDevices(const char *program, const DemoSettings &settings);
    // Returns the devices to their own memory before the files are unmapped.
    ~DemoDevices();
    DemoDevices(const DemoDevices &) = delete;
    DemoDevices &operator=(const DemoDevices &) = delete;

private:
    static void recordState(void *context, const std::string &port, UnitState state);

    const char *program;
    std::vector<std::string> ports;
    std::vector<std::unique_ptr<UnitFiles>> units; // in the order of `ports`
};

} // namespace sim
