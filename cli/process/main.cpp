#include "CliTexts.h"
#include "Console.h"
#include "InterruptGuard.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    interrupts::install();
    QCoreApplication app(argc, argv);
    // Not from argv[0]: update --all runs its workers as /proc/self/exe, and the unit's lock
    // names its program by this.
    QCoreApplication::setApplicationName(QLatin1String(kProgramName));
    return runOnConsole(argc, argv);
}
