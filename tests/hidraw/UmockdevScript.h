#pragma once

// umockdev scripts for the ControlPanel's hidraw node (umockdev-run --script /dev/hidraw0=FILE),
// made from the simulated devices' traffic, so that a conversation recorded against the
// simulation replays against the real hidapi.
//
// What the hidraw node sees: a write() carries every byte hid_write was given, the report id 0
// included (the kernel drops that byte only on its way to the USB device); a read() returns one
// input report, 64 bytes without a report id, since the reports are unnumbered. So Out records
// become `w` lines and In records with data become `r` lines, byte for byte.
//
// umockdev emulates the node as a pseudo terminal: replies are a byte stream, not reports. A
// 64-byte read still takes exactly one 64-byte reply, but a shorter reply would merge with one
// queued right behind it, so such traffic is refused.

#include "DeviceIds.h"
#include "SimulatedDevices.h"

#include <cstdint>
#include <string>
#include <vector>

namespace umockdev {

// One `w` or `r` line of a script.
struct ScriptLine
{
    enum class Op
    {
        Write, // the program must write exactly these bytes
        Read,  // the program's reads are given these bytes, `delayMs` after the previous line
    };
    Op op;
    int delayMs;
    std::vector<std::uint8_t> data;
};

// A data block in the script format: bytes below 32 as '^' and the byte plus 64, '^' as "^`",
// everything else as it is.
std::string encodeBlock(const std::vector<std::uint8_t> &bytes);
// The reverse, as umockdev reads it: '^' and a character c is (c - 64) modulo 256, "^`" is '^'.
std::vector<std::uint8_t> decodeBlock(const std::string &text);

// The traffic of one ControlPanel (`device`; other devices' records are skipped) as a script.
// A read that delivered nothing (a time-out) needs no line: while umockdev waits for the next
// `w`, a read finds nothing. Only data read after time-outs without a write in between is
// delayed, by the time-outs it waited out plus half a time-out, so that it arrives in the middle
// of the read that took it.
// Returns true on failure, with the reason in `error`: an empty write, a block that begins with
// a space (umockdev skips blank characters before a block), or a short reply followed directly
// by another reply.
bool scriptFromTraffic(const std::vector<sim::TrafficRecord> &traffic, std::string &script,
                       std::string &error, int device = 0, int readTimeoutMs = kReplyTimeoutMs);

// The `w` and `r` lines of a script as umockdev-run takes them, in order; comments are skipped,
// `Q` ends the script. Returns true on failure, with the reason in `error`: an unknown operation,
// a missing delay, or an `f` line, since fuzzy matching would defeat a byte-exact comparison.
bool parseScript(const std::string &text, std::vector<ScriptLine> &lines, std::string &error);

} // namespace umockdev
