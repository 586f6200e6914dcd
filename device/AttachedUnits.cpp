#include "AttachedUnits.h"

#include "DeviceIds.h"
#include "UsbPort.h"

#include <hidapi.h>

std::vector<AttachedUnit> attachedUnits()
{
    std::vector<AttachedUnit> units;
    hid_device_info *found = hid_enumerate(kControlPanelVendorId, kControlPanelProductId);
    for (const hid_device_info *info = found; info; info = info->next) {
        AttachedUnit unit;
        unit.path = info->path ? info->path : "";
        unit.port = usbPortOf(unit.path.c_str());
        if (info->serial_number)
            unit.serialNumber = info->serial_number;
        if (info->manufacturer_string)
            unit.manufacturer = info->manufacturer_string;
        if (info->product_string)
            unit.product = info->product_string;
        unit.release = info->release_number;
        units.push_back(std::move(unit));
    }
    hid_free_enumeration(found);
    return units;
}

std::optional<AttachedUnit> unitAtPort(const std::vector<AttachedUnit> &units,
                                       const std::string &port)
{
    for (const AttachedUnit &unit : units)
        if (!port.empty() && unit.port == port)
            return unit;
    return std::nullopt;
}
