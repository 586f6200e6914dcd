#pragma once

#include <optional>
#include <string>
#include <vector>

// A ControlPanel on the bus, as hid_enumerate lists it, with the USB port it sits at. Nothing is
// opened to find it, so it can be looked for often while a unit restarts.
struct AttachedUnit
{
    std::string path; // hidapi's path: the hidraw node, which changes at every restart
    std::string port; // the USB port, which does not; empty when it cannot be found
    std::wstring serialNumber;
    std::wstring manufacturer;
    std::wstring product;
    unsigned short release = 0; // bcdDevice: the bootloader may give another than the application
};

// Every attached device with the ControlPanel's ids, in hidapi's order. Leaves hidapi
// initialised: the caller shuts it down with hid_exit (CommandChannel::closeChannel) when done.
std::vector<AttachedUnit> attachedUnits();

// The unit at the port, if one is there.
std::optional<AttachedUnit> unitAtPort(const std::vector<AttachedUnit> &units,
                                       const std::string &port);
