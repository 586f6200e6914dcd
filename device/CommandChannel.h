#pragma once

#include "DeviceIds.h"
#include "ProtocolCommands.h"

#include <cstdint>
#include <string>

struct hid_device_;
typedef struct hid_device_ hid_device;

// The one USB HID connection to the ControlPanel; through it, the control board behind it.
// Traffic is strictly request and reply: one 65-byte output report, then one 64-byte input report.
// Operations return true when they failed; the channel shows nothing and never retries.
class CommandChannel
{
public:
    CommandChannel();
    // Releases a handle that is still held (hid_close, hid_exit).
    ~CommandChannel();
    CommandChannel(const CommandChannel &) = delete;
    CommandChannel &operator=(const CommandChannel &) = delete;

    // Opens the first enumerated device with the ControlPanel's ids unless a handle is held.
    // True when no device could be opened.
    bool openChannel();

    // Opens the device at hidapi's path unless a handle is held. True when it could not be
    // opened.
    bool openPath(const std::string &path);

    // Writes the command's two letters into payload bytes 0 and 1; the rest of the payload keeps
    // what the last report left there.
    void putCommand(char first, char second);
    void putCommand(CommandLetters letters) { putCommand(letters.first, letters.second); }

    // Discards input reports already waiting, writes the whole report, then reads one reply into
    // `reply`. Discarding first means a reply that came late, twice or unasked can never answer
    // this report. Fails when more stale reports wait than the device can queue, on a write that
    // does not take all 65 bytes (nothing is read then), on a reply that is not 64 bytes within
    // the time-out (`reply` keeps what a failed read did not overwrite), and, with checkEcho,
    // unless the reply begins with the command's two bytes in reverse order.
    bool exchange(bool checkEcho);

    // Reads one further reply without sending anything. True unless 64 bytes arrived in time.
    bool readReply();

    // hid_close when a handle is held, then hid_exit in any case: the next hid_open initialises
    // the library again by itself.
    void closeChannel();

    // How long a read waits for a reply: kReplyTimeoutMs, the device's worst case, unless a test
    // that waits out time-outs hands in a shorter one.
    void setReplyTimeout(int milliseconds) { replyTimeoutMs = milliseconds; }

    bool isOpen() const { return device != nullptr; }
    // hidapi's path of the device held, when it was opened by its path; empty otherwise.
    const std::string &path() const { return heldPath; }

    // The last reply read; a read that fails leaves it as it was.
    std::uint8_t reply[kReplySize];
    // Byte 0 is the report id (0, unnumbered reports); bytes 1 to 64 are the payload.
    std::uint8_t report[kReportSize];
    // The payload: command byte n is report byte n + 1. Nothing ever clears it, so a command
    // carries in the bytes it does not define whatever the previous report left there.
    std::uint8_t *const command;

private:
    bool discardPendingInput();

    hid_device *device = nullptr;
    std::string heldPath;
    int replyTimeoutMs = kReplyTimeoutMs;
};
