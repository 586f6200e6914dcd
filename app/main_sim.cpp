// zelUpdate on simulated devices: the same window and entry, with a ControlPanel and a control
// board whose flash is kept in files between runs.

#include "DemoDevices.h"
#include "RunMainWindow.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    sim::DemoDevices devices("zelUpdate-sim");
    const int code = runMainWindow();
    return devices.save() && code == 0 ? 1 : code;
}
