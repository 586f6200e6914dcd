#pragma once

// The traffic of one ControlPanel as text, one record a line: "> " and the bytes written in hex,
// "< " and the bytes a read delivered, or a lone "<" for a read that delivered nothing. A
// recording keeps it beside its script, since the script cannot show the time-outs.

#include "SimulatedDevices.h"

#include <string>
#include <vector>

namespace umockdev {

// Records of other devices than `device` are left out.
std::string formatTraffic(const std::vector<sim::TrafficRecord> &traffic, int device = 0);

// Returns true on failure, with the line and the reason in `error`. Records come back as device 0.
bool parseTraffic(const std::string &text, std::vector<sim::TrafficRecord> &traffic,
                  std::string &error);

// One record in the same notation, for messages.
std::string formatRecord(const sim::TrafficRecord &record);

} // namespace umockdev
