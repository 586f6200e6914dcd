#pragma once

// The simulated devices as the programs that stand in for hardware use them (zelUpdate-sim,
// zelupdate-cli-sim): timed like the real devices, their flash kept in files between runs, in a
// folder both programs share.

#include "FlashFiles.h"

#include <string>

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
    // Times the devices like hardware and loads their flash from demoFlashFolder(), saving it
    // again after every update that changed it (at the hid_exit that ends it). Messages go to
    // standard error, after `program` and a colon; the name must outlive the object.
    explicit DemoDevices(const char *program);
    DemoDevices(const DemoDevices &) = delete;
    DemoDevices &operator=(const DemoDevices &) = delete;

    // Saves the flash at the end, if it changed since it was last saved or loaded. True when a
    // flash could not be saved.
    bool save();

private:
    FlashFiles flash;
};

} // namespace sim
