// hidapi's functions as the program uses them, answered by the simulated devices. Compiled
// against hidapi's own header, so a signature that drifts from the real library fails to build.
#include "SimulatedDevices.h"

#include <hidapi.h>

hid_device *hid_open(unsigned short vendor_id, unsigned short product_id,
                     const wchar_t *serial_number)
{
    return sim::SimulatedDevices::instance().open(vendor_id, product_id, serial_number);
}

hid_device *hid_open_path(const char *path)
{
    return sim::SimulatedDevices::instance().openPath(path);
}

struct hid_device_info *hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    return sim::SimulatedDevices::instance().enumerate(vendor_id, product_id);
}

void hid_free_enumeration(struct hid_device_info *devices)
{
    sim::SimulatedDevices::instance().freeEnumeration(devices);
}

const wchar_t *hid_error(hid_device *device)
{
    return sim::SimulatedDevices::instance().error(device);
}

int hid_write(hid_device *device, const unsigned char *data, size_t length)
{
    return sim::SimulatedDevices::instance().write(device, data, length);
}

int hid_read_timeout(hid_device *device, unsigned char *data, size_t length, int milliseconds)
{
    return sim::SimulatedDevices::instance().readTimeout(device, data, length, milliseconds);
}

void hid_close(hid_device *device)
{
    sim::SimulatedDevices::instance().close(device);
}

int hid_exit(void)
{
    return sim::SimulatedDevices::instance().exit();
}
