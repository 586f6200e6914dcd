#pragma once

// The simulated devices' flash kept between runs of zelUpdate-sim, as flat images in one folder:
// controlpanel.bin (the first ControlPanel's 262,144 bytes) and controlboard.bin (the control
// board's 32,768 bytes).

#include <cstddef>
#include <string>
#include <vector>

namespace sim {

class SimulatedDevices;

class FlashFiles
{
public:
    FlashFiles(SimulatedDevices &devices, std::string folder);
    // Removes the hook of saveAfterEachUpdate(), which points at this object.
    ~FlashFiles();
    FlashFiles(const FlashFiles &) = delete;
    FlashFiles &operator=(const FlashFiles &) = delete;

    // Creates the folder when it is missing, checks that a file can be made in it, and loads each
    // device's flash from its file; a device whose file is missing starts erased. A file that
    // cannot be read, or is not of its flash's size, is set aside: its device starts erased and
    // the file is never written over, since it may be someone else's data. Returns one message
    // per problem, naming the folder or the file; empty when there was none.
    std::vector<std::string> load();

    // Writes each flash whose file was not set aside to a temporary file in the folder, flushes
    // it to the disk and renames it over its file, so a save cut short leaves the old file whole
    // and no temporary file behind. Returns true when a flash could not be saved; adds one
    // message to `messages` per file not saved, set-aside files included.
    bool save(std::vector<std::string> &messages);

    // Like save(), but only the files whose flash changed since it was loaded or last saved: a
    // save costs a few disk flushes, and most hid_exit calls (a listing, the ControlPanel's
    // restart) follow no write at all. Set-aside files still get their message when changed.
    bool saveChanged(std::vector<std::string> &messages);

    // From now on saves what changed at every hid_exit (the program calls it after each update,
    // when it lets go of the ControlPanel), so a run that ends abruptly keeps what it wrote, and
    // hands each message to `report`.
    void saveAfterEachUpdate(void (*report)(const std::string &message));

private:
    struct File
    {
        const char *name;
        const char *device; // as the messages name it
        std::size_t size;
        std::string setAside;            // why the file is never written over; empty when it is not
        std::vector<unsigned char> kept; // the flash as last loaded or saved
    };

    unsigned char *flashOf(const File &file);
    bool saveFile(File &file, std::vector<std::string> &messages);
    static void saveAtExit(void *context);

    SimulatedDevices &devices;
    std::string folder;
    File files[2];
    bool hooked = false;
    void (*report)(const std::string &) = nullptr;
};

} // namespace sim
