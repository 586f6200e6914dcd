#include "ControlPanelSurvey.h"

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
    for (const AttachedUnit &unit : attachedUnits()) {
        AttachedPanel panel;
        static_cast<AttachedUnit &>(panel) = unit;
        if (hid_device *device = hid_open_path(unit.path.c_str())) {
            hid_close(device);
            panel.access = PanelAccess::Usable;
        } else {
            panel.reason = text(hid_error(nullptr));
            panel.access = classify(panel.reason);
        }
        panels.push_back(panel);
    }
    return panels;
}
