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
class RecordedUnit;

// $ZELUPDATE_SIM_DIR, else zelUpdate-sim in the user's data folder.
std::string demoFlashFolder();

// 1 ms a reply, as a full-speed USB link; restarts like the real devices, each well inside the
// program's 3 s waits; reads that nothing answers wait out their time-out.
void behaveLikeHardware(SimulatedDevices &devices);

// How DemoDevices::start() ended.
struct DemoStart
{
    enum class End
    {
        Started,          // the units run; a file it could not use was warned of
        FolderUnusable,   // refused: the units' folder cannot keep their flash
        ReplayUnreadable, // refused: the recording to replay cannot be read
    };
    End end = End::Started;
    std::string refusal; // names the folder, why, and what to do; empty when started
};

class DemoDevices
{
public:
    // Messages go to standard error, after `program` and a colon; the name must outlive the
    // object.
    DemoDevices(const char *program, const DemoSettings &settings);
    // Returns the devices to their own memory before the files are unmapped.
    ~DemoDevices();
    DemoDevices(const DemoDevices &) = delete;
    DemoDevices &operator=(const DemoDevices &) = delete;

    // Moves flash files that earlier versions left at the top of the folder into the first
    // unit's folder, opens each unit's files, then sets the units up as the settings say, each
    // started from its folder as an earlier run left it. A folder that cannot keep the flash
    // refuses the start before any unit is set up: what the devices would write could not be
    // kept, and the -sim programs exit then. A flash or state file that cannot be used is a
    // warning: its device starts erased (or in its application) and the file is left alone.
    // With a recording to replay (ZELUPDATE_SIM_REPLAY) the recorded unit answers instead, and
    // no folder is used.
    DemoStart start();

private:
    static void recordState(void *context, const std::string &port, UnitState state);
    DemoStart startReplay();

    const char *program;
    DemoSettings settings;
    std::vector<std::unique_ptr<UnitFiles>> units; // in the order of settings.ports
    std::unique_ptr<RecordedUnit> replayed;
};

} // namespace sim
