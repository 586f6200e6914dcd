#pragma once

#include "AttachedUnits.h"

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

// An attached unit, and whether this user can open it.
struct AttachedPanel : AttachedUnit
{
    PanelAccess access = PanelAccess::Failed;
    std::wstring reason; // hidapi's own words when the open failed
};

// Every attached device with the ControlPanel's ids (hid_enumerate), each tried with
// hid_open_path and closed again at once; nothing is written to any of them. Leaves hidapi
// initialised: the caller shuts it down with hid_exit (CommandChannel::closeChannel) when done.
std::vector<AttachedPanel> surveyControlPanels();
