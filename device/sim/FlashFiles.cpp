#include "FlashFiles.h"

#include "SimulatedDevices.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace sim {

namespace {

// `code` is errno, taken before anything else can change it.
std::string failure(const std::string &what, int code)
{
    return what + ": " + std::strerror(code);
}

// A folder that exists but refuses new files (read-only, another owner) would lose every save.
std::string probeFolder(const std::string &folder)
{
    std::string name = folder + "/.zelUpdate-sim-probe-XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0) {
        const int code = errno;
        return failure("cannot write in " + folder, code);
    }
    ::close(fd);
    ::unlink(name.c_str());
    return {};
}

// Fills `flash` from the file at `path` when it holds exactly `size` bytes. Returns the problem,
// or an empty text when the file was read or is missing; `flash` changes only when it was read.
std::string readImage(const std::string &path, const char *device, unsigned char *flash,
                      std::size_t size)
{
    struct stat status;
    if (::stat(path.c_str(), &status) != 0) {
        const int code = errno;
        const bool missing = code == ENOENT || code == ENOTDIR;
        return missing ? std::string() : failure("cannot read " + path, code);
    }
    if (!S_ISREG(status.st_mode))
        return path + " is not a regular file";
    if (static_cast<std::size_t>(status.st_size) != size)
        return path + " holds " + std::to_string(status.st_size) + " bytes, not the " +
               std::to_string(size) + " of the " + device + "'s flash";
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file) {
        const int code = errno;
        return failure("cannot read " + path, code);
    }
    std::vector<unsigned char> image(size);
    const bool whole = std::fread(image.data(), 1, size, file) == size && std::fgetc(file) == EOF;
    const bool failed = std::ferror(file);
    std::fclose(file);
    if (!whole)
        return failed ? "cannot read " + path : path + " changed size while it was read";
    std::copy(image.begin(), image.end(), flash);
    return {};
}

// Writes a temporary file beside `path`, flushes it to the disk and renames it over `path`: the
// rename is atomic, so whatever stops a save leaves either the old file or the new one. Returns
// why it failed, or an empty text.
std::string replaceFile(const std::string &folder, const std::string &path,
                        const unsigned char *data, std::size_t size)
{
    // Named by process: two runs sharing the folder never write into the same temporary file.
    const std::string temporary = path + '.' + std::to_string(::getpid()) + ".saving";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int code = errno;
        return failure(temporary, code);
    }
    int code = 0;
    for (std::size_t done = 0; code == 0 && done < size;) {
        const ssize_t written = ::write(fd, data + done, size - done);
        if (written > 0)
            done += static_cast<std::size_t>(written);
        else if (written == 0)
            code = EIO;
        else if (errno != EINTR)
            code = errno;
    }
    if (code == 0 && ::fsync(fd) != 0)
        code = errno;
    if (::close(fd) != 0 && code == 0)
        code = errno;
    std::string error;
    if (code != 0)
        error = failure(temporary, code);
    else if (std::rename(temporary.c_str(), path.c_str()) != 0)
        error = std::strerror(errno);
    if (!error.empty()) {
        ::unlink(temporary.c_str());
        return error;
    }
    // Makes the rename itself durable. Some file systems refuse to sync a folder; either file is
    // whole then, so the failure is not worth a message.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return {};
}

} // namespace

FlashFiles::FlashFiles(SimulatedDevices &devices, std::string folder)
    : devices(devices),
      folder(std::move(folder)), files{
                                     {"controlpanel.bin", "ControlPanel", kPanelFlashSize, {}, {}},
                                     {"controlboard.bin", "control board", kBoardFlashSize, {}, {}}}
{
}

FlashFiles::~FlashFiles()
{
    if (hooked)
        devices.setExitHook(nullptr, nullptr);
}

unsigned char *FlashFiles::flashOf(const File &file)
{
    return &file == &files[0] ? devices.panelFlash().data() : devices.boardFlash().data();
}

std::vector<std::string> FlashFiles::load()
{
    std::vector<std::string> problems;
    std::error_code created;
    std::filesystem::create_directories(folder, created);
    if (created)
        problems.push_back("cannot create " + folder + ": " + created.message());
    else if (std::string probe = probeFolder(folder); !probe.empty())
        problems.push_back(probe);

    for (File &file : files) {
        unsigned char *flash = flashOf(file);
        std::fill(flash, flash + file.size, 0xFF);
        file.setAside = readImage(folder + '/' + file.name, file.device, flash, file.size);
        if (!file.setAside.empty())
            problems.push_back(file.setAside + ": the " + file.device +
                               " starts erased, and the file is left as it is");
        file.kept.assign(flash, flash + file.size);
    }
    return problems;
}

bool FlashFiles::saveFile(File &file, std::vector<std::string> &messages)
{
    const std::string path = folder + '/' + file.name;
    if (!file.setAside.empty()) {
        messages.push_back("not saved: " + file.setAside);
        return false;
    }
    const unsigned char *flash = flashOf(file);
    const std::string error = replaceFile(folder, path, flash, file.size);
    if (!error.empty()) {
        messages.push_back("cannot save " + path + ": " + error);
        return true;
    }
    file.kept.assign(flash, flash + file.size);
    return false;
}

bool FlashFiles::save(std::vector<std::string> &messages)
{
    bool failed = false;
    for (File &file : files)
        failed = saveFile(file, messages) || failed;
    return failed;
}

bool FlashFiles::saveChanged(std::vector<std::string> &messages)
{
    bool failed = false;
    for (File &file : files) {
        const unsigned char *flash = flashOf(file);
        if (!std::equal(flash, flash + file.size, file.kept.begin(), file.kept.end()))
            failed = saveFile(file, messages) || failed;
    }
    return failed;
}

void FlashFiles::saveAfterEachUpdate(void (*reportTo)(const std::string &))
{
    report = reportTo;
    hooked = true;
    devices.setExitHook(saveAtExit, this);
}

void FlashFiles::saveAtExit(void *context)
{
    auto *self = static_cast<FlashFiles *>(context);
    std::vector<std::string> messages;
    self->saveChanged(messages);
    if (self->report)
        for (const std::string &message : messages)
            self->report(message);
}

} // namespace sim
