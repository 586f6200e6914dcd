// zelUpdate on simulated devices: the same window and entry, with a ControlPanel and a control
// board whose flash is kept in files between runs.

#include "FlashFiles.h"
#include "RunMainWindow.h"
#include "SimulatedDevices.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// Where the flash files live: $ZELUPDATE_SIM_DIR, else a folder in the user's data location.
QString flashFolder()
{
    const QString chosen = qEnvironmentVariable("ZELUPDATE_SIM_DIR");
    if (!chosen.isEmpty())
        return chosen;
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/zelUpdate-sim");
}

// Timing like the real devices, each well inside the program's 3 s waits.
void behaveLikeHardware(sim::SimulatedDevices &devices)
{
    devices.setReplyLatency(std::chrono::microseconds(1000));
    devices.setRestartTime(std::chrono::milliseconds(1500));
    devices.setBoardEntryTime(std::chrono::milliseconds(500));
    // A read that nothing answers waits out its time-out, as it does on the USB bus.
    devices.setRealTimeouts(true);
}

void report(const std::string &message)
{
    std::fprintf(stderr, "zelUpdate-sim: %s\n", message.c_str());
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);

    sim::SimulatedDevices &devices = sim::SimulatedDevices::instance();
    behaveLikeHardware(devices);

    const QByteArray folderName = QFile::encodeName(QDir::cleanPath(flashFolder()));
    sim::FlashFiles flash(devices, folderName.toStdString());
    for (const std::string &problem : flash.load())
        report(problem);
    std::fprintf(stderr,
                 "zelUpdate-sim: flash of the simulated devices in %s "
                 "(controlpanel.bin, controlboard.bin)\n",
                 folderName.constData());
    // Saved after every update too, so a run that ends abruptly keeps what it wrote.
    flash.saveAfterEachUpdate(report);

    const int code = runMainWindow();

    std::vector<std::string> messages;
    const bool failed = flash.save(messages);
    for (const std::string &message : messages)
        report(message);
    return failed && code == 0 ? 1 : code;
}
