#pragma once

// The faults armed on the simulated devices: which report each strikes, and what it does to the
// replies. What a fault does to the write itself (FailedWrite, ShortWrite) and to the stored data
// (CorruptFlash) is up to the hidapi side and the device models.

#include "Reply.h"
#include "SimulatedDevices.h"

#include <deque>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace sim {

// A device's count of the reports written to it, all of them and per pair of letters.
struct ReportCounts
{
    int reports = 0;
    std::map<std::pair<std::uint8_t, std::uint8_t>, int> occurrences;
};

class FaultInjection
{
public:
    void arm(FaultTrigger trigger, Fault fault);
    void clear();

    // Counts one report to the unit at `port` in its `counts` and returns the fault armed for
    // it, or null. The fault stays owned here until clear().
    const Fault *strike(const std::string &port, ReportCounts &counts,
                        const std::uint8_t *payload) const;

    // Alters the replies to the report `fault` struck; a fault that acts elsewhere leaves them.
    static void alterReplies(const Fault &fault, std::deque<Reply> &replies);

private:
    struct Armed
    {
        FaultTrigger trigger;
        Fault fault;
    };
    std::vector<Armed> armed;
};

} // namespace sim
