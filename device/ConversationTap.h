#pragma once

// The program's calls into hidapi, as a recording of a unit needs them. Every hidapi function the
// program calls reaches the tap first (the executables that link it are linked with
// `--wrap=hid_...`, so the calls the library or the simulated devices answer pass through it); it
// hands each finished call to the listener, if one listens, and passes it on unchanged. Nothing
// on the wire changes: a tap with no listener is one test per call.

#include "AttachedUnits.h"

#include <cstdint>
#include <string>
#include <vector>

// A device hid_enumerate listed, with the ids it was listed under.
struct ListedDevice
{
    AttachedUnit unit;
    unsigned short vendorId = 0;
    unsigned short productId = 0;
};

// One hidapi call, once it returned.
struct HidCall
{
    enum class Kind
    {
        Enumerate, // `devices`
        Open,  // by `path`, or by the ControlPanel's ids when `path` is empty; `handle` 0 failed
        Write, // `bytes` as handed to hid_write, report id first; `result` as it returned
        Read,  // `bytes` delivered (`result` of them), or none: 0 a time-out, -1 an error
        Close,
        Exit,
    };
    Kind kind = Kind::Exit;
    std::int64_t atUs = 0; // since the listener started, when the call returned
    // The open handle, numbered from 1 in the order of the opens: a handle's address says nothing.
    int handle = 0;
    std::string path;
    std::vector<ListedDevice> devices;
    std::vector<std::uint8_t> bytes;
    int result = 0;
    int timeoutMs = 0;  // Read
    std::wstring error; // a failed Open: hidapi's text for it
};

class ConversationListener
{
public:
    virtual ~ConversationListener() = default;
    // Polls (reads with a time-out of 0) that find nothing are not heard: the program makes one
    // before every report, and they say nothing about the unit.
    virtual void heard(const HidCall &call) = 0;
};

// From now on every call is heard by `listener`, with its time counted from now.
void startListening(ConversationListener &listener);
void stopListening();
// Microseconds since startListening, on the clock the calls are timed by.
std::int64_t listeningMicroseconds();
