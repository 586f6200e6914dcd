// hidapi's functions as the program uses them, answered by the simulated devices, or by what
// stands in for their units (a replayed recording). Compiled against hidapi's own header, so a
// signature that drifts from the real library fails to build.
#include "SimulatedDevices.h"

#include <hidapi.h>

namespace {

sim::SimulatedDevices &devices()
{
    return sim::SimulatedDevices::instance();
}

} // namespace

hid_device *hid_open(unsigned short vendor_id, unsigned short product_id,
                     const wchar_t *serial_number)
{
    if (sim::HidStandIn *other = devices().standIn())
        return other->open(vendor_id, product_id, serial_number);
    return devices().open(vendor_id, product_id, serial_number);
}

hid_device *hid_open_path(const char *path)
{
    if (sim::HidStandIn *other = devices().standIn())
        return other->openPath(path);
    return devices().openPath(path);
}

struct hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    if (sim::HidStandIn *other = devices().standIn())
        return other->enumerate(vendor_id, product_id);
    return devices().enumerate(vendor_id, product_id);
}

void hid_free_enumeration(struct hid_device_info *devices)
{
    sim::SimulatedDevices::freeEnumeration(devices);
}

const wchar_t *hid_error(hid_device *device)
{
    if (sim::HidStandIn *other = devices().standIn())
        return other->error(device);
    return devices().error(device);
}

int hid_write(hid_device *device, const unsigned char *data, size_t length)
{
    if (sim::HidStandIn *other = devices().standIn())
        return other->write(device, data, length);
    return devices().write(device, data, length);
}

int hid_read_timeout(hid_device *device, unsigned char *data, size_t length, int milliseconds)
{
    if (sim::HidStandIn *other = devices().standIn())
        return other->readTimeout(device, data, length, milliseconds);
    return devices().readTimeout(device, data, length, milliseconds);
}

void hid_close(hid_device *device)
{
    if (sim::HidStandIn *other = devices().standIn())
        return other->close(device);
    devices().close(device);
}

int hid_exit(void)
{
    if (sim::HidStandIn *other = devices().standIn())
        return other->exit();
    return devices().exit();
}
