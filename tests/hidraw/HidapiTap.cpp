#include "HidapiTap.h"

#include <hidapi.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>

namespace tap {

Log &log()
{
    static Log instance;
    return instance;
}

} // namespace tap

namespace {

// The library's own definition of `name`; without it nothing here can work.
template <typename Function> Function *real(Function *, const char *name)
{
    void *symbol = dlsym(RTLD_NEXT, name);
    if (!symbol) {
        std::fprintf(stderr, "hidapi tap: %s not found in the real library\n", name);
        std::abort();
    }
    return reinterpret_cast<Function *>(symbol);
}

} // namespace

hid_device *hid_open(unsigned short vendor_id, unsigned short product_id,
                     const wchar_t *serial_number)
{
    static const auto next = real(&hid_open, "hid_open");
    tap::log().calls.push_back("hid_open");
    return next(vendor_id, product_id, serial_number);
}

int hid_write(hid_device *device, const unsigned char *data, size_t length)
{
    static const auto next = real(&hid_write, "hid_write");
    tap::log().traffic.push_back({sim::TrafficRecord::Direction::Out, 0, {data, data + length}});
    const int result = next(device, data, length);
    tap::log().writeResults.push_back(result);
    return result;
}

int hid_read_timeout(hid_device *device, unsigned char *data, size_t length, int milliseconds)
{
    static const auto next = real(&hid_read_timeout, "hid_read_timeout");
    const int result = next(device, data, length, milliseconds);
    if (milliseconds == 0 && result <= 0) {
        ++tap::log().emptyPolls;
        return result;
    }
    tap::log().reads.push_back({milliseconds, result});
    tap::log().traffic.push_back(
        {sim::TrafficRecord::Direction::In, 0, {data, data + (result > 0 ? result : 0)}});
    return result;
}

void hid_close(hid_device *device)
{
    static const auto next = real(&hid_close, "hid_close");
    tap::log().calls.push_back("hid_close");
    next(device);
}

int hid_exit(void)
{
    static const auto next = real(&hid_exit, "hid_exit");
    tap::log().calls.push_back("hid_exit");
    return next();
}
