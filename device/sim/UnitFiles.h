#pragma once

// One simulated unit's lasting memory, kept in its own folder as hardware keeps it: the flash of
// its ControlPanel and of its control board as flat images (controlpanel.bin, 262,144 bytes;
// controlboard.bin, 32,768 bytes), mapped into memory so that the files follow every byte the
// devices write, and `state`, one word saying where its last command left it.
//
// Two programs that map the same files share one flash, as two programs talking to one unit
// would; a program killed in the middle of a write leaves the flash as far as it got.

#include "SimulatedDevices.h"

#include <string>
#include <vector>

namespace sim {

// What UnitFiles::open() met.
struct UnitFilesProblems
{
    // Why the folder can keep nothing (it cannot be created, or refuses new files), naming it;
    // empty when it can.
    std::string folder;
    // One message per file that is not used as it should be, naming it and saying what its
    // device does instead.
    std::vector<std::string> files;
};

class UnitFiles
{
public:
    explicit UnitFiles(std::string folder);
    ~UnitFiles(); // unmaps the files: the devices must stop using them first
    UnitFiles(const UnitFiles &) = delete;
    UnitFiles &operator=(const UnitFiles &) = delete;

    // Creates the folder when it is missing and checks that a file can be made in it; maps each
    // flash file, creating it erased (0xFF) when it is missing, and reads the state file. A file
    // that is not a regular file of its flash's size is set aside: it is never mapped nor written
    // over, since it may be someone else's data, and its device keeps its flash in memory.
    UnitFilesProblems open();

    // The mapped flashes; null when set aside or not mapped (the device keeps its own memory).
    PanelFlash *panelFlash() const;
    BoardFlash *boardFlash() const;
    // The state as the file holds it; Application when it is missing or unreadable.
    UnitState state() const { return lastState; }
    // Records the unit's state in its file. Returns the problem, or an empty text.
    std::string recordState(UnitState state);

    const std::string &folder() const { return path; }

private:
    struct Mapping
    {
        const char *name;
        const char *device; // as the messages name it
        std::size_t size;
        void *memory = nullptr;
    };

    std::string map(Mapping &mapping, bool canCreate);
    std::string readState();

    std::string path;
    Mapping mappings[2];
    UnitState lastState = UnitState::Application;
};

// The words of the state file, and back; false when `word` is none of them.
const char *stateWord(UnitState state);
bool stateFromWord(const std::string &word, UnitState &state);

} // namespace sim
