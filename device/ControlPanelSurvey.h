#pragma once

#include <string>
#include <vector>

// Whether this user can open an attached ControlPanel, and if not, why.
enum class PanelAccess
{
    Usable,
    NoPermission, // its hidraw node is not readable and writable by this user
    Busy,         // another program holds it
    Failed,       // it would not open for another reason, given in `reason`
};

struct AttachedPanel
{
    std::string path; // the hidraw node, which changes at every restart
    std::string port; // the USB port (usbPortOf), which does not; empty when unknown
    std::wstring manufacturer;
    std::wstring product;
    std::wstring serialNumber;
    unsigned short release = 0;
    PanelAccess access = PanelAccess::Failed;
    std::wstring reason; // hidapi's own words when the open failed
};

// Every attached device with the ControlPanel's ids (hid_enumerate), each tried with
// hid_open_path and closed again at once; nothing is written to any of them. Leaves hidapi
// initialised: the caller shuts it down with hid_exit (CommandChannel::closeChannel) when done.
std::vector<AttachedPanel> surveyControlPanels();
