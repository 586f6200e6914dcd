// zelUpdate on simulated devices: the same window and entry, with ControlPanels and control
// boards whose flash and state are kept in files between runs (see DemoSettings.h for the
// variables that set them up).

#include "DemoDevices.h"
#include "RunMainWindow.h"

#include <QApplication>

#include <cstdio>

namespace {

constexpr const char *kProgram = "zelUpdate-sim";
// As zelupdate-cli's exit code for what it was given but could not understand.
constexpr int kExitSettingsRefused = 2;

} // namespace

int main(int argc, char **argv)
{
    sim::DemoSettings settings;
    if (const std::string problem = sim::readDemoSettings(settings); !problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
        return kExitSettingsRefused;
    }
    QApplication app(argc, argv);
    sim::DemoDevices devices(kProgram, settings);
    return runMainWindow();
}
