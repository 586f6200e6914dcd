// The simulated devices answer for their own nodes: the USB port of the unit behind the path.
#include "SimulatedDevices.h"
#include "UsbPort.h"

std::string usbPortOf(const char *hidapiPath)
{
    return sim::SimulatedDevices::instance().portOfPath(hidapiPath);
}
