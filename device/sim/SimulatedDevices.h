#pragma once

// ControlPanels, each with the ZEL02 control board behind it, simulated behind hidapi's own
// functions (hid_open, hid_write, hid_read_timeout, hid_close, hid_exit), so that the program's
// unchanged code runs against them in tests and in zelUpdate-sim. Each ControlPanel is a unit at
// a USB port ("1-1", "1-1.2"), with its own serial number, board and flash. Single-threaded, like
// the program.

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
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

// What a unit would come back in after losing its host: where its last command left it.
enum class UnitState
{
    Application,     // both devices run their applications
    PanelBootloader, // the ControlPanel runs (or is restarting into) its bootloader
    BoardBootloader, // the control board's bootloader, the ControlPanel relaying to it
};

// How a ControlPanel takes the commands that restart it (bootloader entry and exit). Either way
// it echoes the command first.
enum class RestartQuirk
{
    Normal,        // leaves the bus for the restart time, then comes back
    StaysOnBus,    // never leaves: it goes on running what it ran
    NeverReturns,  // leaves the bus and never comes back
    ReturnsSilent, // comes back on the bus, but answers no report until it is started afresh
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

// Every kind, in the enum's order: a sweep over the faults takes its kinds from here.
constexpr FaultKind kAllFaultKinds[] = {
    FaultKind::NoReply,      FaultKind::LateReply,       FaultKind::ShortReply,
    FaultKind::WrongEcho,    FaultKind::FailedWrite,     FaultKind::ShortWrite,
    FaultKind::CorruptFlash, FaultKind::CorruptReadBack, FaultKind::DuplicatedReply,
    FaultKind::Unsolicited,  FaultKind::WrongSecondByte,
};

// Whether `kind` is the enum's last. The switch has no default: a kind added to the enum is a
// -Wswitch warning here until it is placed, and the static_assert below holds kAllFaultKinds to
// the enum.
constexpr bool isLastFaultKind(FaultKind kind)
{
    switch (kind) {
    case FaultKind::NoReply:
    case FaultKind::LateReply:
    case FaultKind::ShortReply:
    case FaultKind::WrongEcho:
    case FaultKind::FailedWrite:
    case FaultKind::ShortWrite:
    case FaultKind::CorruptFlash:
    case FaultKind::CorruptReadBack:
    case FaultKind::DuplicatedReply:
    case FaultKind::Unsolicited:
        return false;
    case FaultKind::WrongSecondByte:
        return true;
    }
    return false;
}

constexpr bool listsEveryFaultKind()
{
    constexpr std::size_t count = sizeof(kAllFaultKinds) / sizeof(kAllFaultKinds[0]);
    for (std::size_t at = 0; at < count; ++at) {
        if (int(kAllFaultKinds[at]) != int(at))
            return false;
    }
    return isLastFaultKind(kAllFaultKinds[count - 1]);
}
static_assert(listsEveryFaultKind(), "kAllFaultKinds lists every FaultKind, in order");

// Why a ControlPanel that is attached cannot be opened by this user.
enum class PanelAccess
{
    Open,
    NoPermission, // its hidraw node is not readable and writable by this user
    Busy,         // something else holds it
};

// Where a fault strikes: the n-th report written to a unit since reset() (0-based), or the n-th
// report (0-based) to a unit whose first two payload bytes are the given letters. Each unit
// counts its own reports; the fault strikes every unit, or only the one at `port`.
struct FaultTrigger
{
    static FaultTrigger atReport(int index) { return {index, 0, 0, 0, {}}; }
    static FaultTrigger onCommand(char first, char second, int occurrence = 0)
    {
        return {-1,
                static_cast<std::uint8_t>(first),
                static_cast<std::uint8_t>(second),
                occurrence,
                {}};
    }
    FaultTrigger atPort(std::string unitPort) const
    {
        FaultTrigger trigger = *this;
        trigger.port = std::move(unitPort);
        return trigger;
    }

    int reportIndex;
    std::uint8_t first;
    std::uint8_t second;
    int occurrence;
    std::string port; // empty: every unit
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
    int device; // which ControlPanel: 0 is the one hidapi enumerates first; -1 a unit since pulled
                // out
    std::vector<std::uint8_t> bytes;
};

struct SimulatedDevicesState;

// Answers hidapi's calls in place of the simulated units: a unit replayed from a recording.
class HidStandIn
{
public:
    virtual ~HidStandIn() = default;
    virtual hid_device_ *open(unsigned short vendorId, unsigned short productId,
                              const wchar_t *serial) = 0;
    virtual hid_device_ *openPath(const char *path) = 0;
    virtual struct hid_device_info *enumerate(unsigned short vendorId,
                                              unsigned short productId) = 0;
    virtual const wchar_t *error(hid_device_ *device) = 0;
    virtual int write(hid_device_ *device, const unsigned char *data, std::size_t length) = 0;
    virtual int readTimeout(hid_device_ *device, unsigned char *data, std::size_t length,
                            int milliseconds) = 0;
    virtual void close(hid_device_ *device) = 0;
    virtual int exit() = 0;
    // usbPortOf() of a node it listed.
    virtual std::string portOfPath(const char *path) = 0;
};

class SimulatedDevices
{
public:
    static SimulatedDevices &instance();

    // Power-on state: one unit at port 1-1 (serial CP1000), its ControlPanel running its
    // application, its board running its own, both flashes erased (0xFF), no faults, an empty
    // log, zero counts, no latency, instant restarts.
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
    // 0: no ControlPanel attached; n: units at ports 1-1 ... 1-n, enumerated in that order, with
    // serial numbers CP1000, CP1001, ... by order. A unit already at one of these ports stays as
    // it is; the others are pulled out.
    void setDeviceCount(int count);
    // Exactly these units, enumerated in this order, serial numbers by order as above; a unit
    // already at one of the ports stays as it is, the others are pulled out.
    void setUnits(const std::vector<std::string> &ports);
    // Plugs a unit in at `port`, freshly powered, enumerated after the others; a unit already
    // there is pulled out first.
    void attachUnit(const std::string &port, const std::string &serial);
    // Pulls the unit at `port` out: its handles fail from now on as a vanished device's do.
    void detachUnit(const std::string &port);
    int unitCount() const;
    // The port of the unit enumerated `device`-th; empty past the last.
    std::string unitPort(int device) const;
    // Which unit is at `port` (its place in the enumeration), or -1.
    int unitIndex(const std::string &port) const;
    // The port of the unit whose node hid_enumerate names `path`; empty when no unit on the bus
    // has that node (usbPortOf() of the simulated devices).
    std::string portOfPath(const char *path) const;
    // The quirk applies from the unit's `fromRestart`-th restart command on (0: its first); the
    // restarts before it are normal. A unit plugged in starts with Normal.
    void setRestartQuirk(RestartQuirk quirk, int device = 0, int fromRestart = 0);
    // The serial number hid_enumerate lists for the unit while its ControlPanel runs its
    // bootloader; by default the unit's own.
    void setBootloaderSerial(const std::string &serial, int device = 0);
    // With false sysfs gives no USB port for the unit: usbPortOf() answers "" for its node, which
    // hid_enumerate still lists and hid_open_path still opens. The unit keeps its port here.
    void setPortKnown(bool known, int device = 0);
    // Whether this user can open the given ControlPanel; hid_enumerate lists it either way.
    void setPanelAccess(PanelAccess access, int device = 0);
    // Each ControlPanel's node as hid_enumerate names it, by its place in the enumeration.
    static std::string panelPath(int device);
    // The node the unit is at now: panelPath() until its first restart, a new one after each.
    std::string nodeOf(int device) const;
    // From now on `standIn` answers every hidapi call instead of the units; null gives them back
    // to the units, and so does reset(). It must outlive its use.
    void replaceUnits(HidStandIn *standIn);
    HidStandIn *standIn() const;
    // With false the traffic log stays empty (benchmarks); counts are kept regardless.
    void setLogging(bool on);

    void injectFault(FaultTrigger trigger, Fault fault);
    void clearFaults();

    PanelState panelState(int device = 0);
    void setPanelState(PanelState state, int device = 0);
    BoardState boardState(int device = 0) const;
    // Puts the board into its bootloader with the ControlPanel relaying, as the board-entry
    // command leaves them.
    void enterBoardBootloader(int device = 0);
    UnitState unitState(int device = 0);
    // Starts the unit in `state` at once, as it was left by an earlier run.
    void setUnitState(UnitState state, int device = 0);
    // Called with the unit's port whenever a report changes its UnitState; nullptr removes it,
    // and so does reset().
    void setUnitStateHook(void (*hook)(void *context, const std::string &port, UnitState state),
                          void *context);

    // With no unit attached, device 0's flashes are erased ones that nothing writes.
    PanelFlash &panelFlash(int device = 0);
    BoardFlash &boardFlash(int device = 0);
    // Makes the unit keep its flash in this memory (a file mapped into memory) instead of its
    // own, as it is; null returns to its own memory. Must stay valid until the unit is detached
    // or reset() runs.
    void useFlash(int device, PanelFlash *panel, BoardFlash *board);

    const std::vector<TrafficRecord> &traffic() const;
    // The reports written, each as its 65 bytes, in order.
    std::vector<std::vector<std::uint8_t>> reportsWritten() const;
    void clearTraffic();
    int reportCount() const; // reports written to any unit since reset(), failed writes included

    int readCount() const;  // hid_read_timeout calls that wait (time-out above 0)
    int pollCount() const;  // hid_read_timeout calls with time-out 0
    int openCount() const;  // hid_open calls
    int closeCount() const; // hid_close calls
    int exitCount() const;  // hid_exit calls
    // Handles opened and not yet given to hid_close; hid_exit closes none, as hidapi's does not.
    int openHandles() const;
    int lastReadTimeoutMs() const;

    // A broken rule of hidapi's contract (a stale handle, a missing report id, a read that asks
    // for less than a report) aborts the process unless a handler is set; after a handler returns,
    // the call fails as hidapi would. Tests of the stand-in itself set one.
    void setContractViolationHandler(void (*handler)(const char *what));
    // What hidapi's functions do here (HidApiStandIn.cpp forwards them). Enumeration lists the
    // ControlPanels that are on the bus, not those restarting.
    hid_device_ *open(unsigned short vendorId, unsigned short productId, const wchar_t *serial);
    hid_device_ *openPath(const char *path);
    struct hid_device_info *enumerate(unsigned short vendorId, unsigned short productId);
    // Frees a list that enumerate() or a stand-in's made: both allocate it as hidapi does.
    static void freeEnumeration(struct hid_device_info *devices);
    // Only the library's own error (device null): why the last open failed.
    const wchar_t *error(hid_device_ *device);
    int write(hid_device_ *device, const unsigned char *data, std::size_t length);
    int readTimeout(hid_device_ *device, unsigned char *data, std::size_t length, int milliseconds);
    void close(hid_device_ *device);
    int exit();

private:
    SimulatedDevices();
    SimulatedDevicesState *state;
};

} // namespace sim
