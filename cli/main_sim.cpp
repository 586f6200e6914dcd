// zelupdate-cli on simulated devices: the same commands, with a ControlPanel and a control board
// timed like hardware whose flash zelUpdate-sim shares (ZELUPDATE_SIM_DIR).

#include "Console.h"
#include "DemoDevices.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    sim::DemoDevices devices("zelupdate-cli-sim");
    const int code = runOnConsole(QCoreApplication::arguments());
    return devices.save() && code == 0 ? 1 : code;
}
