#include "update/same_device.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <filesystem>
#include <map>

#include "links/udp/communication_udp.h"
#include "links/udp/udp_socket.h"
#include "log/escaped_text.h"
#include "log/text_format.h"

namespace {

std::string AddressKey(std::uint32_t address) {
    // In network byte order: the first byte in memory is the first part of the address.
    const auto* part = reinterpret_cast<const std::uint8_t*>(&address);
    return StrPrintf("%u.%u.%u.%u:%d", part[0], part[1], part[2], part[3],
                     CCommunication_UDP1::kDevicePort);
}

// The serial port opens a name that is no path ("ttyUSB0") in /dev, as QSerialPort does.
std::string SerialPortPath(const std::string& name) {
    const bool isPath = name.starts_with('/') || name.starts_with("./") || name.starts_with("../");
    return isPath ? name : "/dev/" + name;
}

}  // namespace

std::optional<std::string> NetworkDeviceKey(const std::string& name) {
    std::uint32_t address = 0;
    if (!MakeSystemUdpSocket()->Resolve(name, address).ok) {
        return std::nullopt;
    }
    return AddressKey(address);
}

std::optional<std::string> NetworkSlotKey(const std::string& name, std::string& error) {
    const std::string quoted = "\"" + EscapedText(name) + "\"";
    constexpr std::string_view kHostCharacters =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.-_";
    in_addr parsed{};
    // Digits and dots only is an address, in any form the resolver takes ("127.1"), or nothing.
    if (name.empty() || name.find_first_not_of(kHostCharacters) != std::string::npos ||
        (name.find_first_not_of("0123456789.") == std::string::npos &&
         ::inet_aton(name.c_str(), &parsed) == 0)) {
        error = quoted + " is no IPv4 address or host name";
        return std::nullopt;
    }
    // Names under .invalid never resolve by the DNS's own rules: no resolver is waited for.
    std::string host = UpperCase(name);
    while (host.ends_with('.')) {
        host.pop_back();
    }
    std::uint32_t address = 0;
    const SocketCall call = host == "INVALID" || host.ends_with(".INVALID")
                                ? SocketCall{false, EAI_NONAME}
                                : MakeSystemUdpSocket()->Resolve(name, address);
    if (!call.ok) {
        if (call.error == EAI_NONAME) {
            error = quoted + " names no host";
        }
        return std::nullopt;
    }
    return AddressKey(address);
}

std::optional<std::string> SerialSlotKey(const std::string& name, std::string& error) {
    if (name.empty()) {
        error = "an empty port name";
        return std::nullopt;
    }
    if (std::optional<std::string> device = SerialDeviceKey(name)) {
        return device;
    }
    std::error_code ec;
    return "path " + std::filesystem::weakly_canonical(SerialPortPath(name), ec).string();
}

std::optional<std::string> SerialDeviceKey(const std::string& name) {
    const std::string path = SerialPortPath(name);
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
