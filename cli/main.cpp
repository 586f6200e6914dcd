#include "Console.h"
#include "InterruptGuard.h"

#include <QCoreApplication>

int main(int argc, char **argv)
{
    interrupts::install();
    QCoreApplication app(argc, argv);
    return runOnConsole(argc, argv);
}
