#pragma once

// A ControlPanel and the ZEL02 control board behind it, simulated behind hidapi's own functions
// (hid_open, hid_write, hid_read_timeout, hid_close, hid_exit), so that the program's unchanged
// code runs against them in tests and in zelUpdate-sim. Single-threaded, like the program.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct hid_device_;
struct hid_device_info;

namespace sim {

constexpr std::uint32_t kPanelFlashSize = 262144;
constexpr std::uint32_t kBoardFlashSize = 32768;
// The control board's bootloader lives above this address and cannot be written.
constexpr std::uint32_t kBoardBootloaderStart = 0x7E00;
// A ControlPanel row, as its row command erases it: four 64-byte pages.
constexpr std::uint32_t kPanelRowSize = 256;

using PanelFlash = std::array<std::uint8_t, kPanelFlashSize>;
using BoardFlash = std::array<std::uint8_t, kBoardFlashSize>;

enum class PanelState
{
    Application,
    Bootloader,
    Restarting, // gone from the bus until its restart time has passed
};

enum class BoardState
{
    Application,
    Bootloader,
};

enum class FaultKind
{
    NoReply,         // the device acts on the report but its reply never comes: the read times out
    LateReply,       // the reply misses the read that waits for it and answers the next read
    ShortReply,      // the reply arrives cut to 32 bytes
    WrongEcho,       // the reply's first two bytes come back unswapped (altered when equal)
    FailedWrite,     // hid_write returns -1; the device never sees the report
    ShortWrite,      // hid_write takes only 32 bytes; the device drops the broken report
    CorruptFlash,    // the device stores the report's data with one byte flipped
    CorruptReadBack, // one byte of the data the device sends back is flipped
    DuplicatedReply, // the device sends its (first) reply twice in a row
    Unsolicited,     // after its replies the device sends a report nobody asked for
    WrongSecondByte, // the reply's second byte comes back altered
};

// Why a ControlPanel that is attached cannot be opened by this user.
enum class PanelAccess
{
    Open,
    NoPermission, // its hidraw node is not readable and writable by this user
    Busy,         // something else holds it
};

// Where a fault strikes: the n-th report written since reset() (0-based), or the n-th report
// (0-based) whose first two payload bytes are the given letters.
struct FaultTrigger
{
    static FaultTrigger atReport(int index) { return {index, 0, 0, 0}; }
    static FaultTrigger onCommand(char first, char second, int occurrence = 0)
    {
        return {-1, static_cast<std::uint8_t>(first), static_cast<std::uint8_t>(second),
                occurrence};
    }

    int reportIndex;
    std::uint8_t first;
    std::uint8_t second;
    int occurrence;
};

struct Fault
{
    FaultKind kind;
    // The data byte that CorruptFlash or CorruptReadBack alters (within the 64 payload bytes),
    // and the bits it flips there.
    int byte = 0;
    std::uint8_t mask = 0x01;
};

struct TrafficRecord
{
    enum class Direction
    {
        Out, // a report handed to hid_write, all bytes as passed (report id first)
        In,  // what one hid_read_timeout delivered; empty when a read that waited got nothing (a
             // poll that finds nothing is not logged)
    };
    Direction direction;
    int device; // which ControlPanel: 0 is the one hidapi enumerates first
    std::vector<std::uint8_t> bytes;
};

class SimulatedDevices
{
public:
    static SimulatedDevices &instance();

    // Power-on state: one ControlPanel running its application, the board running its own, both
    // flashes erased (0xFF), no faults, an empty log, zero counts, no latency, instant restarts.
    void reset();

    // Time each reply takes; about 1 ms per report models a full-speed USB link.
    void setReplyLatency(std::chrono::microseconds latency);
    // How long the ControlPanel is gone after the commands that restart it.
    void setRestartTime(std::chrono::milliseconds time);
    // How long after 'K','k' the control board's bootloader starts answering.
    void setBoardEntryTime(std::chrono::milliseconds time);
    // With false (the default) a read that nothing answers returns 0 at once instead of sleeping
    // through its time-out; the time-out asked for is still recorded.
    void setRealTimeouts(bool real);
    // 0: no ControlPanel attached; n: n matching ControlPanels, enumerated in order.
    void setDeviceCount(int count);
    // Whether this user can open the given ControlPanel; hid_enumerate lists it either way.
    void setPanelAccess(PanelAccess access, int device = 0);
    // Each ControlPanel's node as hid_enumerate names it.
    static std::string panelPath(int device);
    // With false the traffic log stays empty (benchmarks); counts are kept regardless.
    void setLogging(bool on);

    void injectFault(FaultTrigger trigger, Fault fault);
    void clearFaults();

    PanelState panelState(int device = 0);
    void setPanelState(PanelState state, int device = 0);
    BoardState boardState() const;
    // Puts the board into its bootloader with the ControlPanel relaying, as 'K','k' leaves them.
    void enterBoardBootloader();

    PanelFlash &panelFlash(int device = 0);
    BoardFlash &boardFlash();

    const std::vector<TrafficRecord> &traffic() const;
    // The reports written, each as its 65 bytes, in order.
    std::vector<std::vector<std::uint8_t>> reportsWritten() const;
    void clearTraffic();
    int reportCount() const; // reports written since reset(), failed writes included

    int readCount() const;  // hid_read_timeout calls that wait (time-out above 0)
    int pollCount() const;  // hid_read_timeout calls with time-out 0
    int openCount() const;  // hid_open calls
    int closeCount() const; // hid_close calls
    int exitCount() const;  // hid_exit calls
    int openHandles() const;
    int lastReadTimeoutMs() const;

    // A broken rule of hidapi's contract (a stale handle, a missing report id, a read that asks
    // for less than a report) aborts the process unless a handler is set; after a handler returns,
    // the call fails as hidapi would. Tests of the stand-in itself set one.
    void setContractViolationHandler(void (*handler)(const char *what));
    // Called with context at the end of every hid_exit, which the program calls when it lets go
    // of the ControlPanel after each update; nullptr removes it, and so does reset().
    void setExitHook(void (*hook)(void *context), void *context);

    // What hidapi's functions do here (HidApiStandIn.cpp forwards them). Enumeration lists the
    // ControlPanels that are on the bus, not those restarting.
    hid_device_ *open(unsigned short vendorId, unsigned short productId, const wchar_t *serial);
    hid_device_ *openPath(const char *path);
    struct hid_device_info *enumerate(unsigned short vendorId, unsigned short productId);
    void freeEnumeration(struct hid_device_info *devices);
    // Only the library's own error (device null): why the last open failed.
    const wchar_t *error(hid_device_ *device);
    int write(hid_device_ *device, const unsigned char *data, std::size_t length);
    int readTimeout(hid_device_ *device, unsigned char *data, std::size_t length, int milliseconds);
    void close(hid_device_ *device);
    int exit();

private:
    SimulatedDevices();
    struct State;
    State *state;
};

} // namespace sim
