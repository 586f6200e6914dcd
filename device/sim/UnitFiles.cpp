#include "UnitFiles.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>
#include <utility>

namespace sim {

namespace {

constexpr const char *kStateFile = "state";
constexpr unsigned char kErased = 0xFF;

// `code` is errno, taken before anything else can change it.
std::string failure(const std::string &what, int code)
{
    return what + ": " + std::strerror(code);
}

// A folder that exists but refuses new files (read-only, another owner) could keep nothing.
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

// Writes `size` bytes of `data` (or of `fill` when data is null) to a temporary file beside
// `path`, then puts it in place: by rename when `replace`, else by link, which leaves a file
// that another program made meanwhile alone. Either way nothing half written ever bears the
// name. Returns why it failed, or an empty text.
std::string placeFile(const std::string &path, const char *data, std::size_t size, bool replace)
{
    // Named by process: two programs on one folder never write into the same temporary file.
    const std::string temporary = path + '.' + std::to_string(::getpid()) + ".new";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        const int code = errno;
        return failure(temporary, code);
    }
    std::vector<char> erased;
    if (!data) {
        erased.assign(size, static_cast<char>(kErased));
        data = erased.data();
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
    if (::close(fd) != 0 && code == 0)
        code = errno;
    const std::string *failedAt = &temporary;
    if (code == 0) {
        const bool placed = replace
                                ? std::rename(temporary.c_str(), path.c_str()) == 0
                                : ::link(temporary.c_str(), path.c_str()) == 0 || errno == EEXIST;
        if (!placed) {
            code = errno;
            failedAt = &path;
        }
    }
    ::unlink(temporary.c_str());
    return code == 0 ? std::string() : failure(*failedAt, code);
}

} // namespace

const char *stateWord(UnitState state)
{
    switch (state) {
    case UnitState::Application:
        return "application";
    case UnitState::PanelBootloader:
        return "bootloader";
    case UnitState::BoardBootloader:
        return "board-bootloader";
    }
    return "";
}

bool stateFromWord(const std::string &word, UnitState &state)
{
    for (UnitState candidate :
         {UnitState::Application, UnitState::PanelBootloader, UnitState::BoardBootloader})
        if (word == stateWord(candidate)) {
            state = candidate;
            return true;
        }
    return false;
}

UnitFiles::UnitFiles(std::string folder)
    : path(std::move(folder)), mappings{{"controlpanel.bin", "ControlPanel", kPanelFlashSize},
                                        {"controlboard.bin", "control board", kBoardFlashSize}}
{
}

UnitFiles::~UnitFiles()
{
    for (Mapping &mapping : mappings)
        if (mapping.memory)
            ::munmap(mapping.memory, mapping.size);
}

PanelFlash *UnitFiles::panelFlash() const
{
    return static_cast<PanelFlash *>(mappings[0].memory);
}

BoardFlash *UnitFiles::boardFlash() const
{
    return static_cast<BoardFlash *>(mappings[1].memory);
}

UnitFilesProblems UnitFiles::open()
{
    UnitFilesProblems problems;
    std::error_code created;
    std::filesystem::create_directories(path, created);
    if (created)
        problems.folder = "cannot create " + path + ": " + created.message();
    else
        problems.folder = probeFolder(path);
    for (Mapping &mapping : mappings)
        if (std::string problem = map(mapping, problems.folder.empty()); !problem.empty())
            problems.files.push_back(problem);
    if (std::string problem = readState(); !problem.empty())
        problems.files.push_back(problem);
    return problems;
}

std::string UnitFiles::map(Mapping &mapping, bool canCreate)
{
    const std::string file = path + '/' + mapping.name;
    const std::string fallback = ": the " + std::string(mapping.device) + " starts erased";
    int fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        if (!canCreate)
            return {}; // the folder's problem says it already
        if (std::string error = placeFile(file, nullptr, mapping.size, false); !error.empty())
            return "cannot create " + file + ": " + error + fallback;
        fd = ::open(file.c_str(), O_RDWR | O_CLOEXEC);
    }
    // A file this user may read but not write: the device starts from it and keeps its writes
    // in memory only.
    bool privateCopy = false;
    if (fd < 0 && (errno == EACCES || errno == EROFS || errno == EPERM)) {
        fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        privateCopy = fd >= 0;
    }
    const std::string setAsideEnd = fallback + ", and the file is left as it is";
    if (fd < 0) {
        const int code = errno;
        if (code == EISDIR)
            return file + " is not a regular file" + setAsideEnd;
        return failure("cannot open " + file, code) + fallback;
    }
    struct stat status;
    std::string setAside;
    if (::fstat(fd, &status) != 0)
        setAside = failure("cannot read " + file, errno);
    else if (!S_ISREG(status.st_mode))
        setAside = file + " is not a regular file";
    else if (static_cast<std::size_t>(status.st_size) != mapping.size)
        setAside = file + " holds " + std::to_string(status.st_size) + " bytes, not the " +
                   std::to_string(mapping.size) + " of the " + mapping.device + "'s flash";
    if (!setAside.empty()) {
        ::close(fd);
        return setAside + setAsideEnd;
    }
    void *memory = ::mmap(nullptr, mapping.size, PROT_READ | PROT_WRITE,
                          privateCopy ? MAP_PRIVATE : MAP_SHARED, fd, 0);
    const int code = errno;
    ::close(fd); // the mapping keeps the file
    if (memory == MAP_FAILED)
        return failure("cannot map " + file, code) + fallback;
    mapping.memory = memory;
    if (privateCopy)
        return file + " cannot be written: the " + mapping.device +
               " starts from it, and what is written to it is not kept";
    return {};
}

std::string UnitFiles::readState()
{
    const std::string file = path + '/' + kStateFile;
    std::ifstream in(file);
    if (!in)
        return {}; // never written: the unit has always run its application
    std::string word;
    in >> word;
    if (stateFromWord(word, lastState))
        return {};
    lastState = UnitState::Application;
    return file + " does not hold a state this program knows (" +
           stateWord(UnitState::Application) + ", " + stateWord(UnitState::PanelBootloader) + ", " +
           stateWord(UnitState::BoardBootloader) + "): the unit starts in its application";
}

std::string UnitFiles::recordState(UnitState state)
{
    const std::string text = std::string(stateWord(state)) + '\n';
    const std::string file = path + '/' + kStateFile;
    if (std::string error = placeFile(file, text.data(), text.size(), true); !error.empty())
        return "cannot record the unit's state in " + file + ": " + error;
    lastState = state;
    return {};
}

} // namespace sim
