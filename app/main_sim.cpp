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
    if (const sim::SettingCheck check = sim::readDemoSettings(settings); !check.accepted()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, check.refusal.c_str());
        return kExitSettingsRefused;
    }
    QApplication app(argc, argv);
    sim::DemoDevices devices(kProgram, settings);
    if (const sim::DemoStart started = devices.start();
        started.end != sim::DemoStart::End::Started) {
        std::fprintf(stderr, "%s: %s\n", kProgram, started.refusal.c_str());
        return kExitSettingsRefused;
    }
    return runMainWindow();
}
