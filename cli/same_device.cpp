#include "cli/same_device.h"

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <map>

#include "links/udp/communication_udp.h"
#include "links/udp/udp_socket.h"
#include "log/text_format.h"

std::optional<std::string> NetworkDeviceKey(const std::string& name) {
    std::uint32_t address = 0;
    if (!MakeSystemUdpSocket()->Resolve(name, address).ok) {
        return std::nullopt;
    }
    // In network byte order: the first byte in memory is the first part of the address.
    const auto* part = reinterpret_cast<const std::uint8_t*>(&address);
    return StrPrintf("%u.%u.%u.%u:%d", part[0], part[1], part[2], part[3],
                     CCommunication_UDP1::kDevicePort);
}

std::optional<std::string> SerialDeviceKey(const std::string& name) {
    // The serial port opens a name that is no path ("ttyUSB0") in /dev, as QSerialPort does.
    const bool isPath = name.starts_with('/') || name.starts_with("./") || name.starts_with("../");
    const std::string path = isPath ? name : "/dev/" + name;
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return std::nullopt;
    }
    if (S_ISCHR(info.st_mode)) {
        return StrPrintf("character device %u:%u", ::major(info.st_rdev), ::minor(info.st_rdev));
    }
    return StrPrintf("file %llu:%llu", static_cast<unsigned long long>(info.st_dev),
                     static_cast<unsigned long long>(info.st_ino));
}

std::string SameDeviceTwice(std::span<const std::string> names, const DeviceKey& key) {
    if (names.size() < 2) {
        return {};  // a single device runs exactly as before, without a look-up of its own
    }
    std::map<std::string, const std::string*> seen;
    for (const std::string& name : names) {
        const std::optional<std::string> device = key(name);
        if (!device) {
            continue;
        }
        const auto [at, added] = seen.emplace(*device, &name);
        if (!added) {
            return "\"" + *at->second + "\" and \"" + name + "\" are the same device (" + *device +
                   ")";
        }
    }
    return {};
}
