// The tap's side of the link: `--wrap=hid_X` sends the program's calls of hid_X here, and
// __real_hid_X is the function the executable would otherwise have called (hidapi's, or the
// simulated devices').
#include "ConversationTap.h"

#include "UsbPort.h"

#include <hidapi.h>

#include <chrono>
#include <map>

extern "C" {
hid_device *__real_hid_open(unsigned short vendor_id, unsigned short product_id,
                            const wchar_t *serial_number);
hid_device *__real_hid_open_path(const char *path);
struct hid_device_info *__real_hid_enumerate(unsigned short vendor_id, unsigned short product_id);
int __real_hid_write(hid_device *device, const unsigned char *data, size_t length);
int __real_hid_read_timeout(hid_device *device, unsigned char *data, size_t length,
                            int milliseconds);
void __real_hid_close(hid_device *device);
int __real_hid_exit(void);

hid_device *__wrap_hid_open(unsigned short vendor_id, unsigned short product_id,
                            const wchar_t *serial_number);
hid_device *__wrap_hid_open_path(const char *path);
struct hid_device_info *__wrap_hid_enumerate(unsigned short vendor_id, unsigned short product_id);
int __wrap_hid_write(hid_device *device, const unsigned char *data, size_t length);
int __wrap_hid_read_timeout(hid_device *device, unsigned char *data, size_t length,
                            int milliseconds);
void __wrap_hid_close(hid_device *device);
int __wrap_hid_exit(void);
}

namespace {

using Clock = std::chrono::steady_clock;

struct Tap
{
    ConversationListener *listener = nullptr;
    Clock::time_point start;
    std::map<const hid_device *, int> handles;
    int lastHandle = 0;
};

Tap &tap()
{
    static Tap instance;
    return instance;
}

HidCall call(HidCall::Kind kind)
{
    HidCall heard;
    heard.kind = kind;
    heard.atUs = listeningMicroseconds();
    return heard;
}

int handleOf(const hid_device *device)
{
    const auto found = tap().handles.find(device);
    return found == tap().handles.end() ? 0 : found->second;
}

hid_device *opened(hid_device *device, const char *path)
{
    Tap &state = tap();
    HidCall heard = call(HidCall::Kind::Open);
    if (path)
        heard.path = path;
    if (device) {
        heard.handle = state.handles[device] = ++state.lastHandle;
    } else if (const wchar_t *why = hid_error(nullptr)) {
        heard.error = why;
    }
    state.listener->heard(heard);
    return device;
}

std::wstring text(const wchar_t *value)
{
    return value ? std::wstring(value) : std::wstring();
}

} // namespace

void startListening(ConversationListener &listener)
{
    tap() = Tap();
    tap().listener = &listener;
    tap().start = Clock::now();
}

void stopListening()
{
    tap().listener = nullptr;
}

std::int64_t listeningMicroseconds()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - tap().start)
        .count();
}

hid_device *__wrap_hid_open(unsigned short vendor_id, unsigned short product_id,
                            const wchar_t *serial_number)
{
    hid_device *device = __real_hid_open(vendor_id, product_id, serial_number);
    return tap().listener ? opened(device, nullptr) : device;
}

hid_device *__wrap_hid_open_path(const char *path)
{
    hid_device *device = __real_hid_open_path(path);
    return tap().listener ? opened(device, path ? path : "") : device;
}

struct hid_device_info *__wrap_hid_enumerate(unsigned short vendor_id, unsigned short product_id)
{
    hid_device_info *found = __real_hid_enumerate(vendor_id, product_id);
    if (!tap().listener)
        return found;
    HidCall heard = call(HidCall::Kind::Enumerate);
    for (const hid_device_info *info = found; info; info = info->next) {
        ListedDevice device;
        device.unit.path = info->path ? info->path : "";
        device.unit.port = usbPortOf(device.unit.path.c_str());
        device.unit.serialNumber = text(info->serial_number);
        device.unit.manufacturer = text(info->manufacturer_string);
        device.unit.product = text(info->product_string);
        device.unit.release = info->release_number;
        device.vendorId = info->vendor_id;
        device.productId = info->product_id;
        heard.devices.push_back(std::move(device));
    }
    tap().listener->heard(heard);
    return found;
}

int __wrap_hid_write(hid_device *device, const unsigned char *data, size_t length)
{
    const int result = __real_hid_write(device, data, length);
    if (tap().listener) {
        HidCall heard = call(HidCall::Kind::Write);
        heard.handle = handleOf(device);
        heard.bytes.assign(data, data + length);
        heard.result = result;
        tap().listener->heard(heard);
    }
    return result;
}

int __wrap_hid_read_timeout(hid_device *device, unsigned char *data, size_t length,
                            int milliseconds)
{
    const int result = __real_hid_read_timeout(device, data, length, milliseconds);
    if (tap().listener && (milliseconds != 0 || result > 0)) {
        HidCall heard = call(HidCall::Kind::Read);
        heard.handle = handleOf(device);
        heard.timeoutMs = milliseconds;
        heard.result = result;
        if (result > 0)
            heard.bytes.assign(data, data + result);
        tap().listener->heard(heard);
    }
    return result;
}

void __wrap_hid_close(hid_device *device)
{
    __real_hid_close(device);
    if (tap().listener) {
        HidCall heard = call(HidCall::Kind::Close);
        heard.handle = handleOf(device);
        tap().handles.erase(device);
        tap().listener->heard(heard);
    }
}

int __wrap_hid_exit(void)
{
    const int result = __real_hid_exit();
    if (tap().listener)
        tap().listener->heard(call(HidCall::Kind::Exit));
    return result;
}
