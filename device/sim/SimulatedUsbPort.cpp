// Stopgap until the simulated devices answer for their own units: unit N's node
// /dev/hidraw-simN sits at port 1-(N+1).
#include "UsbPort.h"

#include <cstdlib>
#include <cstring>

std::string usbPortOf(const char *hidapiPath)
{
    static const char kNodePrefix[] = "/dev/hidraw-sim";
    const std::size_t prefixLength = sizeof kNodePrefix - 1;
    if (!hidapiPath || std::strncmp(hidapiPath, kNodePrefix, prefixLength) != 0)
        return std::string();
    const char *digits = hidapiPath + prefixLength;
    char *end = nullptr;
    const unsigned long unit = std::strtoul(digits, &end, 10);
    if (end == digits || *end != '\0')
        return std::string();
    return "1-" + std::to_string(unit + 1);
}
