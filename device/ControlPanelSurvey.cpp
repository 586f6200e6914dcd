#include "ControlPanelSurvey.h"

#include "DeviceIds.h"
#include "UsbPort.h"

#include <hidapi.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::wstring text(const wchar_t *value)
{
    return value ? std::wstring(value) : std::wstring();
}

// hidapi reports a failed open only as text ending in strerror's words, in this process's
// language: compare with those words rather than with English.
bool says(const std::wstring &message, int error)
{
    const char *words = std::strerror(error);
    std::wstring wide(std::strlen(words) + 1, L'\0');
    const std::size_t length = std::mbstowcs(&wide[0], words, wide.size());
    if (length == static_cast<std::size_t>(-1))
        return false;
    wide.resize(length);
    return message.find(wide) != std::wstring::npos;
}

PanelAccess classify(const std::wstring &message)
{
    if (says(message, EACCES) || says(message, EPERM))
        return PanelAccess::NoPermission;
    if (says(message, EBUSY))
        return PanelAccess::Busy;
    return PanelAccess::Failed;
}

} // namespace

std::vector<AttachedPanel> surveyControlPanels()
{
    std::vector<AttachedPanel> panels;
    hid_device_info *found = hid_enumerate(kControlPanelVendorId, kControlPanelProductId);
    for (const hid_device_info *info = found; info; info = info->next) {
        AttachedPanel panel;
        panel.path = info->path ? info->path : "";
        panel.port = usbPortOf(info->path);
        panel.manufacturer = text(info->manufacturer_string);
        panel.product = text(info->product_string);
        panel.serialNumber = text(info->serial_number);
        panel.release = info->release_number;
        if (hid_device *device = hid_open_path(info->path)) {
            hid_close(device);
            panel.access = PanelAccess::Usable;
        } else {
            panel.reason = text(hid_error(nullptr));
            panel.access = classify(panel.reason);
        }
        panels.push_back(panel);
    }
    hid_free_enumeration(found);
    return panels;
}
