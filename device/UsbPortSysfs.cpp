// The hidraw backend's answer: the kernel names each USB device in sysfs after its port, so the
// port is the name of the first USB device above the hidraw node.
#include "UsbPort.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

#include <unistd.h>

namespace {

constexpr const char *kHidrawClass = "/sys/class/hidraw/";
constexpr const char *kNodeFolder = "/dev/";
constexpr const char *kNodePrefix = "hidraw";
// Only USB devices have both; their interfaces and the hid device between them have neither.
constexpr const char *kUsbDeviceAttributes[] = {"/busnum", "/devpath"};

bool startsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

// "hidraw3" for "/dev/hidraw3"; empty for anything else.
std::string hidrawName(const std::string &path)
{
    if (!startsWith(path, kNodeFolder))
        return std::string();
    const std::string name = path.substr(std::string(kNodeFolder).size());
    const std::string number = name.substr(std::min(name.size(), std::string(kNodePrefix).size()));
    if (!startsWith(name, kNodePrefix) || number.empty() ||
        number.find_first_not_of("0123456789") != std::string::npos)
        return std::string();
    return name;
}

std::string resolved(const std::string &path)
{
    const std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr),
                                                           &std::free);
    return real ? std::string(real.get()) : std::string();
}

bool isUsbDevice(const std::string &folder)
{
    for (const char *attribute : kUsbDeviceAttributes) {
        if (::access((folder + attribute).c_str(), F_OK) != 0)
            return false;
    }
    return true;
}

} // namespace

std::string usbPortOf(const char *hidapiPath)
{
    const std::string name = hidrawName(hidapiPath ? hidapiPath : "");
    if (name.empty())
        return std::string();
    std::string folder = resolved(kHidrawClass + name + "/device");
    for (std::size_t slash = folder.rfind('/'); slash != std::string::npos && slash > 0;
         slash = folder.rfind('/')) {
        if (isUsbDevice(folder))
            return folder.substr(slash + 1);
        folder.erase(slash);
    }
    return std::string();
}
