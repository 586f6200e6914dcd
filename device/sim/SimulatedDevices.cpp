#include "SimulatedDevices.h"

#include "ControlBoardModel.h"
#include "ControlPanelModel.h"
#include "DeviceIds.h"
#include "FaultInjection.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <thread>
#include <utility>

// A handle as hid_open hands it out. Handles are never freed before reset(), so a stale one is
// still recognisable as stale.
struct hid_device_
{
    int panel;
    unsigned generation; // the panel's power cycle it was opened in
    bool open;
};

namespace sim {

namespace {

[[noreturn]] void abortOnViolation(const char *what)
{
    std::fprintf(stderr, "simulated hidapi: contract broken: %s\n", what);
    std::abort();
}

} // namespace

struct SimulatedDevices::State
{
    DeviceTiming timing;
    ControlBoardModel board;
    std::vector<ControlPanelModel> panels{ControlPanelModel(timing, board)};
    std::chrono::microseconds latency{0};
    bool realTimeouts = false;
    bool logging = true;
    FaultInjection faults;
    ReportCounts counts;
    std::deque<hid_device_> handles;
    std::vector<TrafficRecord> traffic;
    int reports = 0;
    int reads = 0;
    int polls = 0;
    int opens = 0;
    int closes = 0;
    int exits = 0;
    int lastTimeout = -1;
    std::wstring lastError;
    void (*violation)(const char *) = abortOnViolation;
    void (*exitHook)(void *) = nullptr;
    void *exitHookContext = nullptr;

    // A panel on the bus, opened for a new handle when this user may. A refusal is worded as
    // hidapi's hidraw backend words it, with the system's text for the error.
    hid_device_ *openPanel(int index)
    {
        ControlPanelModel &panel = panels[static_cast<std::size_t>(index)];
        if (panel.access != PanelAccess::Open) {
            const char *why = std::strerror(panel.access == PanelAccess::Busy ? EBUSY : EACCES);
            const std::string message = "Failed to open a device with path '" +
                                        SimulatedDevices::panelPath(index) + "': " + why;
            lastError.assign(message.begin(), message.end());
            return nullptr;
        }
        // A restarted device has forgotten what it was about to send.
        const unsigned current = panel.generation;
        panel.replies.erase(
            std::remove_if(panel.replies.begin(), panel.replies.end(),
                           [current](const Reply &r) { return r.generation != current; }),
            panel.replies.end());
        handles.push_back({index, panel.generation, true});
        return &handles.back();
    }

    bool valid(hid_device_ *device, const char *call)
    {
        const bool known = std::any_of(handles.begin(), handles.end(),
                                       [device](const hid_device_ &h) { return &h == device; });
        if (!known || !device->open) {
            std::string what =
                std::string(call) + " on a handle that is closed or was never opened";
            violation(what.c_str());
            return false;
        }
        return true;
    }

    void log(TrafficRecord::Direction direction, int panel, const unsigned char *bytes,
             std::size_t length)
    {
        if (logging)
            traffic.push_back({direction, panel, std::vector<std::uint8_t>(bytes, bytes + length)});
    }
};

SimulatedDevices &SimulatedDevices::instance()
{
    static SimulatedDevices devices;
    return devices;
}

SimulatedDevices::SimulatedDevices() : state(new State)
{
}

void SimulatedDevices::reset()
{
    auto *handler = state->violation;
    delete state;
    state = new State;
    state->violation = handler;
}

void SimulatedDevices::setReplyLatency(std::chrono::microseconds latency)
{
    state->latency = latency;
}

void SimulatedDevices::setRestartTime(std::chrono::milliseconds time)
{
    state->timing.restartTime = time;
}

void SimulatedDevices::setBoardEntryTime(std::chrono::milliseconds time)
{
    state->timing.boardEntryTime = time;
}

void SimulatedDevices::setRealTimeouts(bool real)
{
    state->realTimeouts = real;
}

void SimulatedDevices::setDeviceCount(int count)
{
    const auto wanted = static_cast<std::size_t>(std::max(0, count));
    if (state->panels.size() > wanted)
        state->panels.erase(state->panels.begin() + static_cast<std::ptrdiff_t>(wanted),
                            state->panels.end());
    while (state->panels.size() < wanted)
        state->panels.emplace_back(state->timing, state->board);
}

void SimulatedDevices::setPanelAccess(PanelAccess access, int device)
{
    state->panels.at(static_cast<std::size_t>(device)).access = access;
}

std::string SimulatedDevices::panelPath(int device)
{
    return "/dev/hidraw-sim" + std::to_string(device);
}

void SimulatedDevices::setLogging(bool on)
{
    state->logging = on;
}

void SimulatedDevices::injectFault(FaultTrigger trigger, Fault fault)
{
    state->faults.arm(trigger, fault);
}

void SimulatedDevices::clearFaults()
{
    state->faults.clear();
}

PanelState SimulatedDevices::panelState(int device)
{
    ControlPanelModel &panel = state->panels.at(static_cast<std::size_t>(device));
    panel.refresh();
    return panel.state;
}

void SimulatedDevices::setPanelState(PanelState panelState, int device)
{
    state->panels.at(static_cast<std::size_t>(device)).setState(panelState);
}

BoardState SimulatedDevices::boardState() const
{
    for (ControlPanelModel &panel : state->panels)
        panel.refresh();
    return state->board.state;
}

void SimulatedDevices::enterBoardBootloader()
{
    state->panels.at(0).relayToBoardBootloader();
}

PanelFlash &SimulatedDevices::panelFlash(int device)
{
    return state->panels.at(static_cast<std::size_t>(device)).flash;
}

BoardFlash &SimulatedDevices::boardFlash()
{
    return state->board.flash;
}

const std::vector<TrafficRecord> &SimulatedDevices::traffic() const
{
    return state->traffic;
}

std::vector<std::vector<std::uint8_t>> SimulatedDevices::reportsWritten() const
{
    std::vector<std::vector<std::uint8_t>> reports;
    for (const TrafficRecord &record : state->traffic)
        if (record.direction == TrafficRecord::Direction::Out)
            reports.push_back(record.bytes);
    return reports;
}

void SimulatedDevices::clearTraffic()
{
    state->traffic.clear();
}

int SimulatedDevices::reportCount() const
{
    return state->reports;
}

int SimulatedDevices::readCount() const
{
    return state->reads;
}

int SimulatedDevices::pollCount() const
{
    return state->polls;
}

int SimulatedDevices::openCount() const
{
    return state->opens;
}

int SimulatedDevices::closeCount() const
{
    return state->closes;
}

int SimulatedDevices::exitCount() const
{
    return state->exits;
}

int SimulatedDevices::openHandles() const
{
    return static_cast<int>(std::count_if(state->handles.begin(), state->handles.end(),
                                          [](const hid_device_ &h) { return h.open; }));
}

int SimulatedDevices::lastReadTimeoutMs() const
{
    return state->lastTimeout;
}

void SimulatedDevices::setContractViolationHandler(void (*handler)(const char *))
{
    state->violation = handler ? handler : abortOnViolation;
}

void SimulatedDevices::setExitHook(void (*hook)(void *), void *context)
{
    state->exitHook = hook;
    state->exitHookContext = context;
}

hid_device_ *SimulatedDevices::open(unsigned short vendorId, unsigned short productId,
                                    const wchar_t *serial)
{
    ++state->opens;
    if (vendorId != kControlPanelVendorId || productId != kControlPanelProductId || serial)
        return nullptr;
    // Like hidapi: the first device enumerated is the one tried, whether it opens or not.
    for (std::size_t i = 0; i < state->panels.size(); ++i) {
        ControlPanelModel &panel = state->panels[i];
        panel.refresh();
        if (panel.state != PanelState::Restarting)
            return state->openPanel(static_cast<int>(i));
    }
    return nullptr;
}

hid_device_ *SimulatedDevices::openPath(const char *path)
{
    ++state->opens;
    for (std::size_t i = 0; i < state->panels.size(); ++i) {
        ControlPanelModel &panel = state->panels[i];
        panel.refresh();
        if (path && panelPath(int(i)) == path && panel.state != PanelState::Restarting)
            return state->openPanel(static_cast<int>(i));
    }
    return nullptr;
}

hid_device_info *SimulatedDevices::enumerate(unsigned short vendorId, unsigned short productId)
{
    hid_device_info *first = nullptr;
    hid_device_info **next = &first;
    const bool matches = (vendorId == 0 || vendorId == kControlPanelVendorId) &&
                         (productId == 0 || productId == kControlPanelProductId);
    for (std::size_t i = 0; matches && i < state->panels.size(); ++i) {
        ControlPanelModel &panel = state->panels[i];
        panel.refresh();
        if (panel.state == PanelState::Restarting)
            continue;
        auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(panelPath(int(i)).c_str());
        info->vendor_id = kControlPanelVendorId;
        info->product_id = kControlPanelProductId;
        info->serial_number = wcsdup((L"CP" + std::to_wstring(1000 + i)).c_str());
        info->release_number = panel.state == PanelState::Bootloader ? 0x0001 : 0x0100;
        info->manufacturer_string = wcsdup(L"ZEL");
        info->product_string = wcsdup(L"ControlPanel");
        info->interface_number = 0;
        info->bus_type = HID_API_BUS_USB;
        *next = info;
        next = &info->next;
    }
    return first;
}

const wchar_t *SimulatedDevices::error(hid_device_ *device)
{
    if (device)
        return nullptr;
    return state->lastError.empty() ? L"Success" : state->lastError.c_str();
}

void SimulatedDevices::freeEnumeration(hid_device_info *devices)
{
    while (devices) {
        hid_device_info *next = devices->next;
        std::free(devices->path);
        std::free(devices->serial_number);
        std::free(devices->manufacturer_string);
        std::free(devices->product_string);
        std::free(devices);
        devices = next;
    }
}

int SimulatedDevices::write(hid_device_ *device, const unsigned char *data, std::size_t length)
{
    if (!state->valid(device, "hid_write"))
        return -1;
    if (length == 0 || data[0] != 0) {
        state->violation("hid_write without the report id 0 in byte 0");
        return -1;
    }
    ControlPanelModel &panel = state->panels[static_cast<std::size_t>(device->panel)];
    panel.refresh();
    ++state->reports;
    state->log(TrafficRecord::Direction::Out, device->panel, data, length);

    std::uint8_t payload[kPayload] = {};
    std::memcpy(payload, data + 1, std::min<std::size_t>(length - 1, kPayload));
    const Fault *fault = state->faults.strike(state->counts, payload);

    if (device->generation != panel.generation || panel.state == PanelState::Restarting)
        return -1; // the device has left the bus since this handle was opened
    if (fault && fault->kind == FaultKind::FailedWrite)
        return -1;
    if (fault && fault->kind == FaultKind::ShortWrite)
        return kShortLength;
    if (length != kReport)
        return static_cast<int>(length); // a malformed report: the device drops it

    const Fault *corrupt = fault && fault->kind == FaultKind::CorruptFlash ? fault : nullptr;
    std::deque<Reply> replies;
    panel.receive(payload, corrupt, replies);
    if (fault)
        FaultInjection::alterReplies(*fault, replies);
    for (Reply &reply : replies) {
        reply.generation = device->generation;
        panel.replies.push_back(reply);
    }
    return static_cast<int>(kReport);
}

int SimulatedDevices::readTimeout(hid_device_ *device, unsigned char *data, std::size_t length,
                                  int milliseconds)
{
    if (!state->valid(device, "hid_read_timeout"))
        return -1;
    if (length < kReply) {
        state->violation("hid_read_timeout asked for fewer bytes than a report holds");
        return -1;
    }
    const bool poll = milliseconds == 0;
    ++(poll ? state->polls : state->reads);
    state->lastTimeout = milliseconds;
    ControlPanelModel &panel = state->panels[static_cast<std::size_t>(device->panel)];
    panel.refresh();
    // Replies already on their way still reach the handle after its device left the bus.
    std::deque<Reply> &replies = panel.replies;
    const bool answerWaiting = !replies.empty() && replies.front().generation == device->generation;
    if (!answerWaiting && device->generation != panel.generation) {
        if (!poll)
            state->log(TrafficRecord::Direction::In, device->panel, data, 0);
        return -1;
    }
    if (!answerWaiting || replies.front().missedReads > 0) {
        if (answerWaiting)
            --replies.front().missedReads;
        if (state->realTimeouts && milliseconds > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        if (!poll)
            state->log(TrafficRecord::Direction::In, device->panel, data, 0);
        return 0;
    }
    if (state->latency.count() > 0)
        std::this_thread::sleep_for(state->latency);
    const Reply reply = panel.replies.front();
    panel.replies.pop_front();
    std::memcpy(data, reply.bytes.data(), reply.length);
    state->log(TrafficRecord::Direction::In, device->panel, data, reply.length);
    return static_cast<int>(reply.length);
}

void SimulatedDevices::close(hid_device_ *device)
{
    ++state->closes;
    if (state->valid(device, "hid_close"))
        device->open = false;
}

int SimulatedDevices::exit()
{
    ++state->exits;
    // hid_exit frees every device the library opened: their handles are stale from now on.
    for (hid_device_ &handle : state->handles)
        handle.open = false;
    if (state->exitHook)
        state->exitHook(state->exitHookContext);
    return 0;
}

} // namespace sim
