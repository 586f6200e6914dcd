#include "DemoDevices.h"

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
    : program(program), ports(settings.ports)
{
    SimulatedDevices &devices = SimulatedDevices::instance();
    behaveLikeHardware(devices);
    // Nothing here reads the traffic log, and a program that runs all day would grow with it.
    devices.setLogging(false);
    devices.setRestartTime(settings.restartTime);
    devices.setUnits(ports);
    for (const FaultEntry &entry : settings.faults)
        devices.injectFault(entry.trigger, entry.fault);

    const std::string folder = demoFlashFolder();
    if (!ports.empty())
        moveEarlierFiles(program, folder, folder + '/' + ports.front());
    for (std::size_t i = 0; i < ports.size(); ++i) {
        auto files = std::make_unique<UnitFiles>(folder + '/' + ports[i]);
        for (const std::string &problem : files->open())
            report(program, problem);
        const int device = static_cast<int>(i);
        devices.useFlash(device, files->panelFlash(), files->boardFlash());
        devices.setUnitState(files->state(), device);
        std::fprintf(stderr,
                     "%s: flash of the simulated devices in %s (controlpanel.bin, "
                     "controlboard.bin)\n",
                     program, files->folder().c_str());
        units.push_back(std::move(files));
    }
    devices.setUnitStateHook(recordState, this);
}

DemoDevices::~DemoDevices()
{
    SimulatedDevices &devices = SimulatedDevices::instance();
    devices.setUnitStateHook(nullptr, nullptr);
    for (const std::string &port : ports)
        if (const int device = devices.unitIndex(port); device >= 0)
            devices.useFlash(device, nullptr, nullptr);
}

void DemoDevices::recordState(void *context, const std::string &port, UnitState state)
{
    auto *self = static_cast<DemoDevices *>(context);
    for (std::size_t i = 0; i < self->ports.size(); ++i)
        if (self->ports[i] == port)
            if (std::string problem = self->units[i]->recordState(state); !problem.empty())
                report(self->program, problem);
}

} // namespace sim
