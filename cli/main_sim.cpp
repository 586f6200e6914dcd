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
    if (const std::string problem = sim::readDemoSettings(settings); !problem.empty()) {
        std::fprintf(stderr, "%s: %s\n", kProgram, problem.c_str());
        return kExitUsage;
    }
    QCoreApplication app(argc, argv);
    // Not from argv[0]: update --all runs its workers as /proc/self/exe.
    QCoreApplication::setApplicationName(QLatin1String(kProgram));
    sim::DemoDevices devices(kProgram, settings);
    return runOnConsole(argc, argv);
}
