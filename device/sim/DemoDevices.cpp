#include "DemoDevices.h"

#include "RecordedUnit.h"
#include "SimulatedDevices.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace sim {

namespace {

constexpr const char *kFlashFiles[] = {"controlpanel.bin", "controlboard.bin"};

void report(const char *program, const std::string &message)
{
    std::fprintf(stderr, "%s: %s\n", program, message.c_str());
}

// Earlier versions kept one unit's flash at the top of the folder. Moves each such file into
// `unitFolder` unless one is there already; a file is never overwritten, nor lost.
void moveEarlierFiles(const char *program, const std::string &folder, const std::string &unitFolder)
{
    for (const char *name : kFlashFiles) {
        const std::string from = folder + '/' + name;
        const std::string to = unitFolder + '/' + name;
        if (::access(from.c_str(), F_OK) != 0)
            continue;
        std::error_code ignored;
        std::filesystem::create_directories(unitFolder, ignored);
        // link, then unlink: unlike rename it refuses to replace a file already there.
        if (::link(from.c_str(), to.c_str()) != 0) {
            const int code = errno;
            report(program, "left " + from + " where it is, not moved to " + to + ": " +
                                std::strerror(code));
            continue;
        }
        ::unlink(from.c_str());
        report(program, "moved " + from + " to " + to +
                            ": each simulated unit keeps its flash "
                            "in a folder of its own now");
    }
}

} // namespace

std::string demoFlashFolder()
{
    QString folder = qEnvironmentVariable("ZELUPDATE_SIM_DIR");
    if (folder.isEmpty())
        folder = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                 QStringLiteral("/zelUpdate-sim");
    return QFile::encodeName(QDir::cleanPath(folder)).toStdString();
}

void behaveLikeHardware(SimulatedDevices &devices)
{
    devices.setReplyLatency(std::chrono::microseconds(1000));
    devices.setRestartTime(std::chrono::milliseconds(1500));
    devices.setBoardEntryTime(std::chrono::milliseconds(500));
    devices.setRealTimeouts(true);
}

DemoDevices::DemoDevices(const char *program, const DemoSettings &settings)
    : program(program), settings(settings)
{
}

DemoStart DemoDevices::startReplay()
{
    ConversationLoad load = loadConversation(settings.replayFile);
    if (load.end != ConversationLoad::End::Loaded)
        return {DemoStart::End::ReplayUnreadable,
                "ZELUPDATE_SIM_REPLAY: " + load.why +
                    ": give it a file zelupdate-cli --record wrote"};
    SimulatedDevices &devices = SimulatedDevices::instance();
    replayed = std::make_unique<RecordedUnit>(program, settings.replayFile,
                                              std::move(load.conversation), settings.replaySpeed);
    devices.replaceUnits(replayed.get());
    std::fprintf(stderr, "%s: replaying the unit recorded in %s, %g times its pace\n", program,
                 settings.replayFile.c_str(), settings.replaySpeed);
    return {};
}

DemoStart DemoDevices::start()
{
    if (!settings.replayFile.empty())
        return startReplay();
    const std::vector<std::string> &ports = settings.ports;
    const std::string folder = demoFlashFolder();
    if (!ports.empty())
        moveEarlierFiles(program, folder, folder + '/' + ports.front());
    std::vector<std::unique_ptr<UnitFiles>> opened;
    std::vector<std::string> warnings;
    for (const std::string &port : ports) {
        auto files = std::make_unique<UnitFiles>(folder + '/' + port);
        UnitFilesProblems problems = files->open();
        if (!problems.folder.empty())
            return {DemoStart::End::FolderUnusable,
                    problems.folder +
                        ": the simulated units keep their flash there; set ZELUPDATE_SIM_DIR to "
                        "a folder this user can write"};
        warnings.insert(warnings.end(), problems.files.begin(), problems.files.end());
        opened.push_back(std::move(files));
    }
    for (const std::string &warning : warnings)
        report(program, warning);

    SimulatedDevices &devices = SimulatedDevices::instance();
    behaveLikeHardware(devices);
    // Nothing here reads the traffic log, and a program that runs all day would grow with it.
    devices.setLogging(false);
    devices.setRestartTime(settings.restartTime);
    devices.setUnits(ports);
    for (const FaultEntry &entry : settings.faults)
        devices.injectFault(entry.trigger, entry.fault);
    for (const std::string &port : settings.portless)
        devices.setPortKnown(false, devices.unitIndex(port));
    for (int device = 0; device < devices.unitCount(); ++device) {
        const std::string &port = ports[static_cast<std::size_t>(device)];
        for (const BootloaderSerialEntry &entry : settings.bootloaderSerials)
            if (entry.port.empty() || entry.port == port)
                devices.setBootloaderSerial(entry.serial, device);
        for (const RestartQuirkEntry &entry : settings.restartQuirks)
            if (entry.port.empty() || entry.port == port)
                devices.setRestartQuirk(entry.quirk, device, entry.fromRestart);
        UnitFiles &files = *opened[static_cast<std::size_t>(device)];
        devices.useFlash(device, files.panelFlash(), files.boardFlash());
        devices.setUnitState(files.state(), device);
        std::fprintf(stderr,
                     "%s: flash of the simulated devices in %s (controlpanel.bin, "
                     "controlboard.bin)\n",
                     program, files.folder().c_str());
    }
    units = std::move(opened);
    devices.setUnitStateHook(recordState, this);
    return {};
}

DemoDevices::~DemoDevices()
{
    SimulatedDevices &devices = SimulatedDevices::instance();
    if (replayed)
        devices.replaceUnits(nullptr);
    devices.setUnitStateHook(nullptr, nullptr);
    for (std::size_t i = 0; i < units.size(); ++i)
        if (const int device = devices.unitIndex(settings.ports[i]); device >= 0)
            devices.useFlash(device, nullptr, nullptr);
}

void DemoDevices::recordState(void *context, const std::string &port, UnitState state)
{
    auto *self = static_cast<DemoDevices *>(context);
    for (std::size_t i = 0; i < self->units.size(); ++i)
        if (self->settings.ports[i] == port)
            if (std::string problem = self->units[i]->recordState(state); !problem.empty())
                report(self->program, problem);
}

} // namespace sim
