// The simulated devices answer for their own nodes: the USB port of the unit behind the path, or
// the port a replayed recording listed for it.
#include "SimulatedDevices.h"
#include "UsbPort.h"

std::string usbPortOf(const char *hidapiPath)
{
    sim::SimulatedDevices &devices = sim::SimulatedDevices::instance();
    if (sim::HidStandIn *other = devices.standIn())
        return other->portOfPath(hidapiPath);
    return devices.portOfPath(hidapiPath);
}
