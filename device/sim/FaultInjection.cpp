#include "FaultInjection.h"

#include <utility>

namespace sim {

namespace {

// What an unsolicited report holds: recognisably nothing the devices would send.
constexpr std::uint8_t kUnsolicitedFill = 0xA5;
// The bit a wrong echo flips to tell equal letters apart.
constexpr std::uint8_t kCaseBit = 0x20;

} // namespace

void FaultInjection::arm(FaultTrigger trigger, Fault fault)
{
    armed.push_back({trigger, fault});
}

void FaultInjection::clear()
{
    armed.clear();
}

const Fault *FaultInjection::strike(const std::string &port, ReportCounts &counts,
                                    const std::uint8_t *payload) const
{
    const int index = counts.reports++;
    const auto letters = std::make_pair(payload[0], payload[1]);
    const int occurrence = counts.occurrences[letters]++;
    for (const Armed &entry : armed) {
        const FaultTrigger &t = entry.trigger;
        if (!t.port.empty() && t.port != port)
            continue;
        if (t.reportIndex >= 0 ? t.reportIndex == index
                               : (t.first == letters.first && t.second == letters.second &&
                                  t.occurrence == occurrence))
            return &entry.fault;
    }
    return nullptr;
}

void FaultInjection::alterReplies(const Fault &fault, std::deque<Reply> &replies)
{
    if (replies.empty())
        return;
    Reply &first = replies.front();
    switch (fault.kind) {
    case FaultKind::NoReply:
        replies.clear();
        break;
    case FaultKind::LateReply:
        first.missedReads = 1;
        break;
    case FaultKind::ShortReply:
        first.length = kShortLength;
        break;
    case FaultKind::WrongEcho:
        // The letters come back in the order they went out; equal letters are altered.
        std::swap(first.bytes[0], first.bytes[1]);
        if (first.bytes[0] == first.bytes[1])
            first.bytes[0] ^= kCaseBit;
        break;
    case FaultKind::CorruptReadBack:
        first.bytes[static_cast<std::size_t>(fault.byte)] ^= fault.mask;
        break;
    case FaultKind::DuplicatedReply:
        replies.insert(replies.begin() + 1, first);
        break;
    case FaultKind::Unsolicited: {
        Reply unasked;
        unasked.bytes.fill(kUnsolicitedFill);
        replies.push_back(unasked);
        break;
    }
    case FaultKind::WrongSecondByte:
        first.bytes[1] ^= 0x01;
        break;
    case FaultKind::FailedWrite:
    case FaultKind::ShortWrite:
        break; // the report never reached the device: there is no reply to alter
    case FaultKind::CorruptFlash:
        break; // the device stored the data wrong, but answers as usual
    }
}

} // namespace sim
