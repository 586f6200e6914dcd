#include "SimulatedDevices.h"

#include <hidapi.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <map>
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

using Clock = std::chrono::steady_clock;

constexpr int kPayload = 64;
constexpr std::size_t kReport = kPayload + 1;
constexpr std::size_t kReply = 64;
constexpr int kShortLength = 32;
// Pages from here on hold the ControlPanel's bootloader; its page command refuses them.
constexpr std::uint32_t kPanelBootloaderStart = 0x3FC40;
constexpr std::uint32_t kBoardPageSize = 128;

struct Reply
{
    std::array<std::uint8_t, kReply> bytes{};
    std::size_t length = kReply;
    int missedReads = 0;     // reads that pass before it arrives
    unsigned generation = 0; // replies go to handles of the power cycle that asked
};

std::uint32_t bigEndian32(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}

std::uint32_t bigEndian16(const std::uint8_t *p)
{
    return std::uint32_t(p[0]) << 8 | p[1];
}

Reply echoOf(const std::uint8_t *payload)
{
    Reply reply;
    reply.bytes[0] = payload[1];
    reply.bytes[1] = payload[0];
    return reply;
}

// A refusal: its first byte can never equal the echo the sender checks for.
Reply refusalOf(const std::uint8_t *payload)
{
    Reply reply;
    reply.bytes[0] = static_cast<std::uint8_t>(~payload[1]);
    reply.bytes[1] = static_cast<std::uint8_t>(~payload[0]);
    return reply;
}

template <std::size_t N>
Reply dataReply(const std::array<std::uint8_t, N> &flash, std::uint32_t offset)
{
    Reply reply;
    if (offset + kPayload <= N)
        std::memcpy(reply.bytes.data(), flash.data() + offset, kPayload);
    else
        reply.bytes.fill(0);
    return reply;
}

bool isCommand(const std::uint8_t *payload, char first, char second)
{
    return payload[0] == std::uint8_t(first) && payload[1] == std::uint8_t(second);
}

struct Panel
{
    PanelState state = PanelState::Application;
    PanelState stateAfterRestart = PanelState::Application;
    Clock::time_point restartEnds{};
    unsigned generation = 0;
    bool programming = false; // 'C','c' seen in this bootloader run
    bool expectingData = false;
    std::uint32_t dataOffset = 0;
    bool relaying = false; // every report goes on to the control board
    PanelAccess access = PanelAccess::Open;
    Clock::time_point boardReadyAt{};
    PanelFlash flash;
    std::deque<Reply> replies;

    Panel() { flash.fill(0xFF); }
};

struct Board
{
    BoardState state = BoardState::Application;
    std::uint32_t address = 0;
    int halvesExpected = 0;
    std::array<std::uint8_t, kPayload> firstHalf{};
    BoardFlash flash;

    Board() { flash.fill(0xFF); }
};

struct ArmedFault
{
    FaultTrigger trigger;
    Fault fault;
};

// The kernel gives a device that comes back from a restart a new node: the first power cycle's is
// panelPath(), each later one's that with the cycle's number.
std::string nodeOf(int index, const Panel &panel)
{
    const std::string path = SimulatedDevices::panelPath(index);
    return panel.generation == 0 ? path : path + '.' + std::to_string(panel.generation);
}

[[noreturn]] void abortOnViolation(const char *what)
{
    std::fprintf(stderr, "simulated hidapi: contract broken: %s\n", what);
    std::abort();
}

} // namespace

struct SimulatedDevices::State
{
    std::vector<Panel> panels{1};
    Board board;
    std::chrono::microseconds latency{0};
    std::chrono::milliseconds restartTime{0};
    std::chrono::milliseconds boardEntryTime{0};
    bool realTimeouts = false;
    bool logging = true;
    std::vector<ArmedFault> faults;
    std::map<std::pair<std::uint8_t, std::uint8_t>, int> commandOccurrences;
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

    void refresh(Panel &panel)
    {
        if (panel.state == PanelState::Restarting && Clock::now() >= panel.restartEnds) {
            panel.state = panel.stateAfterRestart;
            panel.programming = false;
            panel.expectingData = false;
        }
        if (panel.relaying && board.state == BoardState::Application &&
            Clock::now() >= panel.boardReadyAt)
            board.state = BoardState::Bootloader;
    }

    void restart(Panel &panel, PanelState into)
    {
        panel.state = PanelState::Restarting;
        panel.stateAfterRestart = into;
        panel.restartEnds = Clock::now() + restartTime;
        ++panel.generation;
        panel.relaying = false;
    }

    // A panel on the bus, opened for a new handle when this user may. A refusal is worded as
    // hidapi's hidraw backend words it, with the system's text for the error.
    hid_device_ *openPanel(int index)
    {
        Panel &panel = panels[static_cast<std::size_t>(index)];
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

    const Fault *faultFor(int index, const std::uint8_t *payload)
    {
        const auto letters = std::make_pair(payload[0], payload[1]);
        const int occurrence = commandOccurrences[letters]++;
        for (const ArmedFault &armed : faults) {
            const FaultTrigger &t = armed.trigger;
            if (t.reportIndex >= 0 ? t.reportIndex == index
                                   : (t.first == letters.first && t.second == letters.second &&
                                      t.occurrence == occurrence))
                return &armed.fault;
        }
        return nullptr;
    }

    // The control board's bootloader, as the ControlPanel relays to it.
    void boardReceives(const std::uint8_t *payload, const Fault *corrupt, std::deque<Reply> &out)
    {
        if (board.state != BoardState::Bootloader)
            return; // not started yet: the relayed report goes unanswered
        if (board.halvesExpected == 2) {
            std::memcpy(board.firstHalf.data(), payload, kPayload);
            if (corrupt)
                board.firstHalf[corrupt->byte] ^= corrupt->mask;
            board.halvesExpected = 1;
            out.push_back(Reply{}); // the first half's reply carries nothing
            return;
        }
        if (board.halvesExpected == 1) {
            board.halvesExpected = 0;
            if (board.address % kBoardPageSize != 0 ||
                board.address + kBoardPageSize > kBoardBootloaderStart) {
                out.push_back(refusalOf(payload));
                return;
            }
            std::uint8_t *page = board.flash.data() + board.address;
            std::memcpy(page, board.firstHalf.data(), kPayload);
            std::memcpy(page + kPayload, payload, kPayload);
            if (corrupt)
                page[kPayload + corrupt->byte] ^= corrupt->mask;
            Reply done;
            done.bytes[0] = 'm';
            done.bytes[1] = 'M';
            out.push_back(done);
            return;
        }
        if (isCommand(payload, 'C', 'c')) {
            out.push_back(echoOf(payload));
        } else if (isCommand(payload, 'L', 'l')) {
            board.address = bigEndian16(payload + 2);
            out.push_back(echoOf(payload));
        } else if (isCommand(payload, 'M', 'm')) {
            board.halvesExpected = 2;
            out.push_back(echoOf(payload));
        } else if (isCommand(payload, 'N', 'n')) {
            out.push_back(dataReply(board.flash, board.address));
            out.push_back(dataReply(board.flash, board.address + kPayload));
        } else if (isCommand(payload, 'O', 'o')) {
            board.state = BoardState::Application;
            for (Panel &panel : panels)
                panel.relaying = false;
            out.push_back(echoOf(payload));
        } else {
            out.push_back(refusalOf(payload));
        }
    }

    void panelReceives(Panel &panel, const std::uint8_t *payload, const Fault *corrupt,
                       std::deque<Reply> &out)
    {
        if (panel.relaying) {
            boardReceives(payload, corrupt, out);
            return;
        }
        if (panel.state == PanelState::Application) {
            if (isCommand(payload, 'E', 'e')) {
                out.push_back(echoOf(payload));
            } else if (isCommand(payload, 'B', 'b')) {
                out.push_back(echoOf(payload));
                restart(panel, PanelState::Bootloader);
            } else if (isCommand(payload, 'K', 'k')) {
                out.push_back(echoOf(payload));
                panel.relaying = true;
                panel.boardReadyAt = Clock::now() + boardEntryTime;
            } else {
                out.push_back(refusalOf(payload));
            }
            return;
        }
        // The bootloader. A data packet has no letters: after a page command, the next report
        // is the page's data whatever its first bytes are.
        if (panel.expectingData) {
            panel.expectingData = false;
            std::memcpy(panel.flash.data() + panel.dataOffset, payload, kPayload);
            if (corrupt)
                panel.flash[panel.dataOffset + corrupt->byte] ^= corrupt->mask;
            out.push_back(echoOf(payload));
            return;
        }
        const std::uint32_t offset = bigEndian32(payload + 2);
        if (isCommand(payload, 'E', 'e')) {
            out.push_back(echoOf(payload));
        } else if (isCommand(payload, 'C', 'c')) {
            panel.programming = true;
            out.push_back(echoOf(payload));
        } else if (isCommand(payload, 'X', 'x')) {
            if (!panel.programming || offset % kPanelRowSize != 0 ||
                offset + kPanelRowSize > kPanelBootloaderStart) {
                out.push_back(refusalOf(payload));
                return;
            }
            std::fill_n(panel.flash.begin() + offset, kPanelRowSize, 0xFF);
            out.push_back(echoOf(payload));
        } else if (isCommand(payload, 'Y', 'y')) {
            if (!panel.programming || offset % kPayload != 0 ||
                offset + kPayload > kPanelBootloaderStart) {
                out.push_back(refusalOf(payload));
                return;
            }
            panel.expectingData = true;
            panel.dataOffset = offset;
            out.push_back(echoOf(payload));
        } else if (isCommand(payload, 'R', 'r')) {
            out.push_back(dataReply(panel.flash, offset));
        } else if (isCommand(payload, 'b', 'B')) {
            out.push_back(echoOf(payload));
            restart(panel, PanelState::Application);
        } else {
            out.push_back(refusalOf(payload));
        }
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
    state->restartTime = time;
}

void SimulatedDevices::setBoardEntryTime(std::chrono::milliseconds time)
{
    state->boardEntryTime = time;
}

void SimulatedDevices::setRealTimeouts(bool real)
{
    state->realTimeouts = real;
}

void SimulatedDevices::setDeviceCount(int count)
{
    state->panels.resize(static_cast<std::size_t>(std::max(0, count)));
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
    state->faults.push_back({trigger, fault});
}

void SimulatedDevices::clearFaults()
{
    state->faults.clear();
}

PanelState SimulatedDevices::panelState(int device)
{
    Panel &panel = state->panels.at(static_cast<std::size_t>(device));
    state->refresh(panel);
    return panel.state;
}

void SimulatedDevices::setPanelState(PanelState panelState, int device)
{
    Panel &panel = state->panels.at(static_cast<std::size_t>(device));
    panel.state = panelState;
    panel.programming = false;
    panel.expectingData = false;
}

BoardState SimulatedDevices::boardState() const
{
    for (Panel &panel : state->panels)
        state->refresh(panel);
    return state->board.state;
}

void SimulatedDevices::enterBoardBootloader()
{
    Panel &panel = state->panels.at(0);
    panel.relaying = true;
    panel.boardReadyAt = Clock::now();
    state->board.state = BoardState::Bootloader;
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
    if (vendorId != 0x03EB || productId != 0x2402 || serial)
        return nullptr;
    // Like hidapi: the first device enumerated is the one tried, whether it opens or not.
    for (std::size_t i = 0; i < state->panels.size(); ++i) {
        Panel &panel = state->panels[i];
        state->refresh(panel);
        if (panel.state != PanelState::Restarting)
            return state->openPanel(static_cast<int>(i));
    }
    return nullptr;
}

hid_device_ *SimulatedDevices::openPath(const char *path)
{
    ++state->opens;
    for (std::size_t i = 0; i < state->panels.size(); ++i) {
        Panel &panel = state->panels[i];
        state->refresh(panel);
        if (path && nodeOf(int(i), panel) == path && panel.state != PanelState::Restarting)
            return state->openPanel(static_cast<int>(i));
    }
    return nullptr;
}

hid_device_info *SimulatedDevices::enumerate(unsigned short vendorId, unsigned short productId)
{
    hid_device_info *first = nullptr;
    hid_device_info **next = &first;
    const bool matches =
        (vendorId == 0 || vendorId == 0x03EB) && (productId == 0 || productId == 0x2402);
    for (std::size_t i = 0; matches && i < state->panels.size(); ++i) {
        Panel &panel = state->panels[i];
        state->refresh(panel);
        if (panel.state == PanelState::Restarting)
            continue;
        auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(nodeOf(int(i), panel).c_str());
        info->vendor_id = 0x03EB;
        info->product_id = 0x2402;
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
    Panel &panel = state->panels[static_cast<std::size_t>(device->panel)];
    state->refresh(panel);
    const int index = state->reports++;
    state->log(TrafficRecord::Direction::Out, device->panel, data, length);

    std::uint8_t payload[kPayload] = {};
    std::memcpy(payload, data + 1, std::min<std::size_t>(length - 1, kPayload));
    const Fault *fault = state->faultFor(index, payload);

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
    state->panelReceives(panel, payload, corrupt, replies);
    if (fault && !replies.empty()) {
        Reply &first = replies.front();
        switch (fault->kind) {
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
                first.bytes[0] ^= 0x20;
            break;
        case FaultKind::CorruptReadBack:
            first.bytes[static_cast<std::size_t>(fault->byte)] ^= fault->mask;
            break;
        case FaultKind::DuplicatedReply:
            replies.insert(replies.begin() + 1, first);
            break;
        case FaultKind::Unsolicited: {
            Reply unasked;
            unasked.bytes.fill(0xA5);
            replies.push_back(unasked);
            break;
        }
        case FaultKind::WrongSecondByte:
            first.bytes[1] ^= 0x01;
            break;
        default:
            break;
        }
    }
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
    Panel &panel = state->panels[static_cast<std::size_t>(device->panel)];
    state->refresh(panel);
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
