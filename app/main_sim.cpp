// zelUpdate on simulated devices: the same window and entry, with a ControlPanel and a control
// board whose flash is kept in files between runs.

#include "RunMainWindow.h"
#include "SimulatedDevices.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>

#include <chrono>
#include <cstdio>
#include <string>

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

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);

    sim::SimulatedDevices &devices = sim::SimulatedDevices::instance();
    behaveLikeHardware(devices);

    const QString folder = QDir::cleanPath(flashFolder());
    const QByteArray folderName = QFile::encodeName(folder);
    const std::string path = folderName.toStdString();
    if (!QDir().mkpath(folder))
        std::fprintf(stderr, "zelUpdate-sim: cannot create %s\n", folderName.constData());
    if (devices.loadFlash(path))
        std::fprintf(stderr, "zelUpdate-sim: cannot read the flash files in %s\n",
                     folderName.constData());
    std::fprintf(stderr,
                 "zelUpdate-sim: flash of the simulated devices in %s "
                 "(controlpanel.bin, controlboard.bin)\n",
                 folderName.constData());

    const int code = runMainWindow();

    if (devices.saveFlash(path)) {
        std::fprintf(stderr, "zelUpdate-sim: cannot save the flash files in %s\n",
                     folderName.constData());
        return code != 0 ? code : 1;
    }
    return code;
}
