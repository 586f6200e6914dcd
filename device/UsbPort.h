#pragma once

#include <string>

// The USB port a hidapi device path sits at: the sysfs name of its USB device, such as "1-1.2".
// Unlike the hidraw node and the USB address, it stays the same while the unit restarts, as long
// as it stays in the same socket. Empty when it cannot be found.
//
// Each executable chooses the lookup with its hidapi: the real programs find it in sysfs, the
// simulated devices answer for their own units.
std::string usbPortOf(const char *hidapiPath);
