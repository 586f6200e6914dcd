#include "DemoDevices.h"

#include "SimulatedDevices.h"

#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <chrono>
#include <cstdio>
#include <vector>

namespace sim {

namespace {

// FlashFiles reports through a plain function, so the program's name is kept here.
const char *programName = "";

void report(const std::string &message)
{
    std::fprintf(stderr, "%s: %s\n", programName, message.c_str());
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

DemoDevices::DemoDevices(const char *program)
    : flash(SimulatedDevices::instance(), demoFlashFolder())
{
    programName = program;
    SimulatedDevices &devices = SimulatedDevices::instance();
    behaveLikeHardware(devices);
    for (const std::string &problem : flash.load())
        report(problem);
    std::fprintf(stderr,
                 "%s: flash of the simulated devices in %s (controlpanel.bin, controlboard.bin)\n",
                 program, demoFlashFolder().c_str());
    flash.saveAfterEachUpdate(report);
}

bool DemoDevices::save()
{
    std::vector<std::string> messages;
    const bool failed = flash.saveChanged(messages);
    for (const std::string &message : messages)
        report(message);
    return failed;
}

} // namespace sim
