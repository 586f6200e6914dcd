// Stopgap: simulated ports
#include "UsbPort.h"

#include <cstdlib>
#include <cstring>
#include <string>

std::string usbPortOf(const char *path)
{
    const char *prefix = "/dev/hidraw-sim";
    if (!path || std::strncmp(path, prefix, std::strlen(prefix)) != 0)
        return {};
    return "1-" + std::to_string(std::atoi(path + std::strlen(prefix)) + 1);
}
