// zelupdate-cli on simulated devices: the same commands, with ControlPanels and control boards
// timed like hardware whose flash zelUpdate-sim shares (ZELUPDATE_SIM_DIR; DemoSettings.h names
// the other variables).

#include "Console.h"
#include "DemoDevices.h"
#include "ExitCodes.h"
#include "InterruptGuard.h"

#include <QCoreApplication>

#include <cstdio>

namespace {

constexpr const char *kProgram = "zelupdate-cli-sim";

} // namespace

int main(int argc, char **argv)
{
    interrupts::install();
    sim::DemoSettings settings;
    if (const sim::SettingCheck check = sim::readDemoSettings(settings); !check.accepted()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, check.refusal.c_str());
        return kExitUsage;
    }
    QCoreApplication app(argc, argv);
    // Not from argv[0]: update --all runs its workers as /proc/self/exe.
    QCoreApplication::setApplicationName(QLatin1String(kProgram));
    sim::DemoDevices devices(kProgram, settings);
    if (const sim::DemoStart started = devices.start();
        started.end != sim::DemoStart::End::Started) {
        std::fprintf(stderr, "%s: %s\n", kProgram, started.refusal.c_str());
        return kExitUsage;
    }
    return runOnConsole(argc, argv);
}
