#include "CommandChannel.h"

#include <hidapi.h>

#include <cstring>

namespace {

// A read that does not deliver a whole reply leaves `reply` as it was, so a caller never sees a
// reply that is half old, half new.
bool readInto(hid_device *device, std::uint8_t (&reply)[kReplySize], int timeoutMs)
{
    std::uint8_t incoming[kReplySize];
    if (hid_read_timeout(device, incoming, kReplySize, timeoutMs) != kReplySize)
        return true;
    std::memcpy(reply, incoming, kReplySize);
    return false;
}

// hidraw queues at most this many input reports; a device that keeps more coming than this
// between two commands is not answering them.
constexpr int kMaxStaleReports = 64;

} // namespace

CommandChannel::CommandChannel() : reply{}, report{}, command(report + 1)
{
    // The report id never changes: the ControlPanel uses unnumbered reports.
    report[0] = 0;
}

CommandChannel::~CommandChannel()
{
    if (device)
        closeChannel();
}

bool CommandChannel::openChannel()
{
    if (!device)
        device = hid_open(kControlPanelVendorId, kControlPanelProductId, nullptr);
    return device == nullptr;
}

bool CommandChannel::openPath(const std::string &path)
{
    if (!device) {
        device = hid_open_path(path.c_str());
        if (device)
            heldPath = path;
    }
    return device == nullptr;
}

void CommandChannel::putCommand(char first, char second)
{
    command[0] = static_cast<std::uint8_t>(first);
    command[1] = static_cast<std::uint8_t>(second);
}

bool CommandChannel::discardPendingInput()
{
    std::uint8_t stale[kReplySize];
    for (int discarded = 0; discarded < kMaxStaleReports; ++discarded) {
        if (hid_read_timeout(device, stale, kReplySize, 0) <= 0)
            return false;
    }
    return true;
}

bool CommandChannel::exchange(bool checkEcho)
{
    if (discardPendingInput())
        return true;
    if (hid_write(device, report, kReportSize) != kReportSize)
        return true;
    const std::uint8_t sent0 = command[0];
    const std::uint8_t sent1 = command[1];
    if (readInto(device, reply, replyTimeoutMs))
        return true;
    if (!checkEcho)
        return false;
    return reply[0] != sent1 || reply[1] != sent0;
}

bool CommandChannel::readReply()
{
    return readInto(device, reply, replyTimeoutMs);
}

void CommandChannel::closeChannel()
{
    if (device) {
        hid_close(device);
        device = nullptr;
    }
    heldPath.clear();
    hid_exit();
}
