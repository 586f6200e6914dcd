// hidapi's side of the simulated devices: its handles and their contract, enumeration, and the
// traffic log. The units themselves and their settings are in SimulatedUnits.cpp.
#include "SimulatedDevicesState.h"

#include "DeviceIds.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <thread>

namespace sim {

namespace {

// What the ControlPanel reports as its release: its bootloader's and its application's.
constexpr unsigned short kBootloaderRelease = 0x0001;
constexpr unsigned short kApplicationRelease = 0x0100;

// A panel on the bus, opened for a new handle when this user may. A refusal is worded as
// hidapi's hidraw backend words it, with the system's text for the error.
hid_device_ *openUnit(SimulatedDevicesState &state, int index)
{
    const std::shared_ptr<Unit> &unit = state.units[static_cast<std::size_t>(index)];
    ControlPanelModel &panel = unit->panel;
    if (panel.access != PanelAccess::Open) {
        const char *why = std::strerror(panel.access == PanelAccess::Busy ? EBUSY : EACCES);
        const std::string message = "Failed to open a device with path '" +
                                    SimulatedDevices::panelPath(index) + "': " + why;
        state.lastError.assign(message.begin(), message.end());
        return nullptr;
    }
    // A restarted device has forgotten what it was about to send.
    const unsigned current = panel.generation;
    panel.replies.erase(
        std::remove_if(panel.replies.begin(), panel.replies.end(),
                       [current](const Reply &r) { return r.generation != current; }),
        panel.replies.end());
    state.openHandles.push_back(std::make_unique<hid_device_>(hid_device_{unit, panel.generation}));
    return state.openHandles.back().get();
}

bool valid(SimulatedDevicesState &state, hid_device_ *device, const char *call)
{
    const bool open =
        std::any_of(state.openHandles.begin(), state.openHandles.end(),
                    [device](const std::unique_ptr<hid_device_> &h) { return h.get() == device; });
    if (!open) {
        std::string what = std::string(call) + " on a handle that is closed or was never opened";
        state.violation(what.c_str());
        return false;
    }
    return true;
}

void log(SimulatedDevicesState &state, TrafficRecord::Direction direction, const Unit &unit,
         const unsigned char *bytes, std::size_t length)
{
    if (state.logging)
        state.traffic.push_back(
            {direction, state.indexOf(unit), std::vector<std::uint8_t>(bytes, bytes + length)});
}

} // namespace

hid_device_ *SimulatedDevices::open(unsigned short vendorId, unsigned short productId,
                                    const wchar_t *serial)
{
    ++state->opens;
    if (vendorId != kControlPanelVendorId || productId != kControlPanelProductId || serial)
        return nullptr;
    // Like hidapi: the first device enumerated is the one tried, whether it opens or not.
    for (int i = 0; i < unitCount(); ++i) {
        ControlPanelModel &panel = state->unit(i).panel;
        panel.refresh();
        if (panel.state != PanelState::Restarting)
            return openUnit(*state, i);
    }
    return nullptr;
}

hid_device_ *SimulatedDevices::openPath(const char *path)
{
    ++state->opens;
    for (int i = 0; i < unitCount(); ++i) {
        ControlPanelModel &panel = state->unit(i).panel;
        panel.refresh();
        if (path && nodeOf(i) == path && panel.state != PanelState::Restarting)
            return openUnit(*state, i);
    }
    return nullptr;
}

hid_device_info *SimulatedDevices::enumerate(unsigned short vendorId, unsigned short productId)
{
    hid_device_info *first = nullptr;
    hid_device_info **next = &first;
    const bool matches = (vendorId == 0 || vendorId == kControlPanelVendorId) &&
                         (productId == 0 || productId == kControlPanelProductId);
    for (int i = 0; matches && i < unitCount(); ++i) {
        const Unit &unit = state->unit(i);
        ControlPanelModel &panel = state->unit(i).panel;
        panel.refresh();
        if (panel.state == PanelState::Restarting)
            continue;
        auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(nodeOf(i).c_str());
        info->vendor_id = kControlPanelVendorId;
        info->product_id = kControlPanelProductId;
        const std::string &reported = panel.state == PanelState::Bootloader && unit.bootloaderSerial
                                          ? *unit.bootloaderSerial
                                          : unit.serial;
        // Each byte one character, as Latin-1 reads it: a byte above 0x7f is not a negative one.
        std::wstring serial;
        for (const unsigned char byte : reported)
            serial += wchar_t(byte);
        info->serial_number = wcsdup(serial.c_str());
        info->release_number =
            panel.state == PanelState::Bootloader ? kBootloaderRelease : kApplicationRelease;
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
    if (!valid(*state, device, "hid_write"))
        return -1;
    if (length == 0 || data[0] != 0) {
        state->violation("hid_write without the report id 0 in byte 0");
        return -1;
    }
    Unit &unit = *device->unit;
    ControlPanelModel &panel = unit.panel;
    panel.refresh();
    ++state->reports;
    log(*state, TrafficRecord::Direction::Out, unit, data, length);

    std::uint8_t payload[kPayload] = {};
    std::memcpy(payload, data + 1, std::min<std::size_t>(length - 1, kPayload));
    const Fault *fault = state->faults.strike(unit.port, unit.counts, payload);

    if (!unit.attached || device->generation != panel.generation ||
        panel.state == PanelState::Restarting)
        return -1; // the device has left the bus since this handle was opened
    if (fault && fault->kind == FaultKind::FailedWrite)
        return -1;
    if (fault && fault->kind == FaultKind::ShortWrite)
        return kShortLength;
    if (length != kReport)
        return static_cast<int>(length); // a malformed report: the device drops it

    const Fault *corrupt = fault && fault->kind == FaultKind::CorruptFlash ? fault : nullptr;
    std::deque<Reply> replies;
    const UnitState before = panel.lastingState();
    panel.receive(payload, corrupt, replies);
    const UnitState after = panel.lastingState();
    if (after != before && state->stateHook)
        state->stateHook(state->stateHookContext, unit.port, after);
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
    if (!valid(*state, device, "hid_read_timeout"))
        return -1;
    if (length < kReply) {
        state->violation("hid_read_timeout asked for fewer bytes than a report holds");
        return -1;
    }
    const bool poll = milliseconds == 0;
    ++(poll ? state->polls : state->reads);
    state->lastTimeout = milliseconds;
    Unit &unit = *device->unit;
    ControlPanelModel &panel = unit.panel;
    panel.refresh();
    // Replies already on their way still reach the handle after its device left the bus.
    std::deque<Reply> &replies = panel.replies;
    const bool answerWaiting = !replies.empty() && replies.front().generation == device->generation;
    if (!answerWaiting && (!unit.attached || device->generation != panel.generation)) {
        if (!poll)
            log(*state, TrafficRecord::Direction::In, unit, data, 0);
        return -1;
    }
    if (!answerWaiting || replies.front().missedReads > 0) {
        if (answerWaiting)
            --replies.front().missedReads;
        if (state->realTimeouts && milliseconds > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        if (!poll)
            log(*state, TrafficRecord::Direction::In, unit, data, 0);
        return 0;
    }
    if (state->latency.count() > 0)
        std::this_thread::sleep_for(state->latency);
    const Reply reply = panel.replies.front();
    panel.replies.pop_front();
    std::memcpy(data, reply.bytes.data(), reply.length);
    log(*state, TrafficRecord::Direction::In, unit, data, reply.length);
    return static_cast<int>(reply.length);
}

void SimulatedDevices::close(hid_device_ *device)
{
    ++state->closes;
    if (!valid(*state, device, "hid_close"))
        return;
    auto &open = state->openHandles;
    const auto handle =
        std::find_if(open.begin(), open.end(),
                     [device](const std::unique_ptr<hid_device_> &h) { return h.get() == device; });
    (*handle)->unit.reset(); // a unit pulled out is freed with its last handle
    state->closedHandles.push_back(std::move(*handle));
    open.erase(handle);
    if (state->closedHandles.size() > kClosedHandlesKept)
        state->closedHandles.pop_front();
}

int SimulatedDevices::exit()
{
    ++state->exits;
    // As hidapi's: only the library's own state goes; a device left open stays open and usable,
    // and shows in openHandles().
    return 0;
}

} // namespace sim
