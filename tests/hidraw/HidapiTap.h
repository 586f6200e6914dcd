#pragma once

// Watches the program's calls into the real hidapi library without changing them: this object
// defines hid_open, hid_write, hid_read_timeout, hid_close and hid_exit, logs each call and
// passes it on to the library's own function (found with dlsym(RTLD_NEXT)). The log uses the
// simulated devices' record type, so a replay can be compared with its recording record by
// record.

#include "SimulatedDevices.h"

#include <string>
#include <vector>

namespace tap {

struct ReadCall
{
    int timeoutMs;
    int result;
};

struct Log
{
    // Out: the bytes handed to hid_write; In: what one hid_read_timeout delivered, empty when
    // it returned 0 or -1. A poll (time-out 0) that finds nothing is counted in `emptyPolls`
    // only, as the simulated devices do.
    std::vector<sim::TrafficRecord> traffic;
    std::vector<int> writeResults;
    std::vector<ReadCall> reads;
    int emptyPolls = 0;
    // "hid_open", "hid_close" and "hid_exit" in the order they were called.
    std::vector<std::string> calls;
};

Log &log();

} // namespace tap
