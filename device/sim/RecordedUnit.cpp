#include "RecordedUnit.h"

#include "RecordingFile.h"
#include "RecordingFormat.h"
#include "SimulatedDevicesState.h"

#include <hidapi.h>

#include <QFile>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <limits>
#include <thread>

namespace sim {

namespace {

std::string hex(const unsigned char *data, std::size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) {
        text += digits[data[i] >> 4];
        text += digits[data[i] & 0xf];
    }
    return text;
}

// As hidapi's hidraw backend words a failed open.
std::wstring noSuchDevice(const std::string &path)
{
    const std::string message =
        "Failed to open a device with path '" + path + "': " + std::strerror(ENOENT);
    return std::wstring(message.begin(), message.end());
}

} // namespace

ConversationLoad loadConversation(const std::string &path)
{
    ConversationLoad load;
    const RecordingContents contents = readRecording(QFile::decodeName(path.c_str()));
    if (contents.end != RecordingContents::End::Read) {
        load.why = contents.why.toStdString();
        return load;
    }
    RecordedConversation &conversation = load.conversation;
    CallDecoder decoder;
    bool first = true;
    for (std::size_t at = 1; at < contents.lines.size(); ++at) {
        const CallRead read = decoder.decode(contents.lines[at]);
        if (read.end == CallRead::End::NotACall)
            continue;
        if (read.end == CallRead::End::Malformed) {
            load.why = path + ", line " + std::to_string(at + 1) + ": " + read.why.toStdString();
            return load;
        }
        const HidCall &call = read.call;
        if (first)
            conversation.firstUs = call.atUs;
        first = false;
        switch (call.kind) {
        case HidCall::Kind::Enumerate:
            conversation.listings.push_back({call.atUs, call.devices});
            break;
        case HidCall::Kind::Open:
            conversation.opens.push_back({call.atUs, call.path, call.handle != 0, call.error});
            break;
        case HidCall::Kind::Write:
            conversation.writes.push_back({call.atUs, call.bytes, call.result});
            conversation.readsAfter.emplace_back();
            break;
        case HidCall::Kind::Read:
            conversation.readsAfter.back().push_back(
                {call.atUs, call.timeoutMs, call.result, call.bytes});
            break;
        case HidCall::Kind::Close:
        case HidCall::Kind::Exit:
            break;
        }
    }
    load.end = ConversationLoad::End::Loaded;
    return load;
}

RecordedUnit::RecordedUnit(const char *program, std::string file, RecordedConversation conversation,
                           double speed)
    : program(program), file(std::move(file)), recorded(std::move(conversation)), speed(speed)
{
}

RecordedUnit::~RecordedUnit() = default;

std::int64_t RecordedUnit::recordedNow()
{
    if (!started) {
        started = true;
        anchorUs = recorded.firstUs;
        anchor = Clock::now();
    }
    const auto real =
        std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - anchor).count();
    return anchorUs + std::int64_t(double(real) * speed);
}

bool RecordedUnit::waitFor(std::int64_t atUs, int limitMs)
{
    const std::int64_t ahead = atUs - recordedNow();
    if (ahead <= 0)
        return true;
    const double realUs = double(ahead) / speed;
    const bool reached = realUs <= double(limitMs) * 1000;
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::int64_t(reached ? realUs : double(limitMs) * 1000)));
    return reached;
}

void RecordedUnit::sleepRecorded(int milliseconds)
{
    std::this_thread::sleep_for(
        std::chrono::microseconds(std::int64_t(double(milliseconds) * 1000 / speed)));
}

// The listing recorded last before now, but never one from after the next report the program
// has not written yet: a unit leaves the bus because of the command that restarts it.
const std::vector<ListedDevice> &RecordedUnit::listedNow()
{
    static const std::vector<ListedDevice> none;
    if (recorded.listings.empty())
        return none;
    std::int64_t until = recordedNow();
    if (broken || reportsMatched < recorded.writes.size()) {
        const std::size_t next = std::min(reportsMatched, recorded.writes.size() - 1);
        until = std::min(until, recorded.writes[next].atUs - 1);
    }
    while (listing + 1 < recorded.listings.size() && recorded.listings[listing + 1].atUs <= until)
        ++listing;
    return recorded.listings[listing].devices;
}

hid_device_ *RecordedUnit::openListed(const std::string &path)
{
    const std::vector<ListedDevice> &listed = listedNow();
    const bool there = std::any_of(listed.begin(), listed.end(),
                                   [&path](const ListedDevice &d) { return d.unit.path == path; });
    if (!there) {
        lastError = noSuchDevice(path);
        return nullptr;
    }
    // The next open of this node recorded says whether it opened (a unit this user may not open).
    for (std::size_t at = opensTaken; at < recorded.opens.size(); ++at) {
        const RecordedConversation::Open &open = recorded.opens[at];
        if (!open.path.empty() && open.path != path)
            continue;
        opensTaken = at + 1;
        if (!open.opened) {
            lastError = open.error;
            return nullptr;
        }
        break;
    }
    handles.push_back(std::make_unique<hid_device_>(hid_device_{nullptr, ++lastHandle}));
    return handles.back().get();
}

hid_device_ *RecordedUnit::open(unsigned short, unsigned short, const wchar_t *)
{
    const std::vector<ListedDevice> &listed = listedNow();
    if (listed.empty()) {
        lastError = L"No HID devices with requested VID/PID found in the system.";
        return nullptr;
    }
    return openListed(listed.front().unit.path);
}

hid_device_ *RecordedUnit::openPath(const char *path)
{
    return openListed(path ? path : "");
}

hid_device_info *RecordedUnit::enumerate(unsigned short vendorId, unsigned short productId)
{
    hid_device_info *first = nullptr;
    hid_device_info **next = &first;
    for (const ListedDevice &device : listedNow()) {
        if ((vendorId && vendorId != device.vendorId) ||
            (productId && productId != device.productId))
            continue;
        auto *info = static_cast<hid_device_info *>(std::calloc(1, sizeof(hid_device_info)));
        info->path = strdup(device.unit.path.c_str());
        info->vendor_id = device.vendorId;
        info->product_id = device.productId;
        info->serial_number = wcsdup(device.unit.serialNumber.c_str());
        info->release_number = device.unit.release;
        info->manufacturer_string = wcsdup(device.unit.manufacturer.c_str());
        info->product_string = wcsdup(device.unit.product.c_str());
        info->bus_type = HID_API_BUS_USB;
        *next = info;
        next = &info->next;
    }
    return first;
}

const wchar_t *RecordedUnit::error(hid_device_ *)
{
    return lastError.c_str();
}

void RecordedUnit::differs(const std::string &why, const unsigned char *data, std::size_t length)
{
    broken = true;
    std::fprintf(stderr,
                 "%s: replay of %s: report %zu %s; from here on the unit answers nothing\n"
                 "  written:  %s\n",
                 program, file.c_str(), reportsMatched, why.c_str(), hex(data, length).c_str());
}

int RecordedUnit::write(hid_device_ *, const unsigned char *data, std::size_t length)
{
    if (broken)
        return int(length);
    if (reportsMatched >= recorded.writes.size()) {
        differs("is one more than the recording holds", data, length);
        return int(length);
    }
    const RecordedConversation::Write &expected = recorded.writes[reportsMatched];
    if (expected.bytes.size() != length ||
        !std::equal(expected.bytes.begin(), expected.bytes.end(), data)) {
        differs("differs from the recording\n  expected: " +
                    hex(expected.bytes.data(), expected.bytes.size()),
                data, length);
        return int(length);
    }
    recordedNow();
    anchorUs = expected.atUs;
    anchor = Clock::now();
    ++reportsMatched;
    readsTaken = 0;
    return expected.result;
}

int RecordedUnit::readTimeout(hid_device_ *, unsigned char *data, std::size_t length,
                              int milliseconds)
{
    const std::vector<RecordedConversation::Read> &reads =
        recorded.readsAfter[broken ? 0 : reportsMatched];
    if (broken || readsTaken >= reads.size()) {
        sleepRecorded(milliseconds);
        return 0;
    }
    const RecordedConversation::Read &next = reads[readsTaken];
    // A poll takes only what a poll took: a reply that was there before the program asked.
    if (milliseconds == 0 && next.timeoutMs != 0)
        return 0;
    if (!waitFor(next.atUs, milliseconds))
        return 0;
    ++readsTaken;
    if (next.result <= 0)
        return next.result;
    const std::size_t delivered = std::min(length, next.bytes.size());
    std::memcpy(data, next.bytes.data(), delivered);
    return int(delivered);
}

void RecordedUnit::close(hid_device_ *device)
{
    handles.erase(std::remove_if(handles.begin(), handles.end(),
                                 [device](const std::unique_ptr<hid_device_> &held) {
                                     return held.get() == device;
                                 }),
                  handles.end());
}

int RecordedUnit::exit()
{
    return 0;
}

std::string RecordedUnit::portOfPath(const char *path)
{
    if (!path || recorded.listings.empty())
        return {};
    // In the listing given last: the program asks for the ports of what it was just listed.
    for (const ListedDevice &device : recorded.listings[listing].devices)
        if (device.unit.path == path)
            return device.unit.port;
    return {};
}

bool RecordedUnit::replayedWhole() const
{
    return !broken && reportsMatched == recorded.writes.size();
}

} // namespace sim
