#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "engine/protocol.h"

// A bootloader version as its synchronisation answer gives it: 1.05 is high 0x01, low 0x05.
struct BootloaderVersion {
    std::uint8_t high = 0;
    std::uint8_t low = 0;
    auto operator<=>(const BootloaderVersion&) const = default;
};

// A version written as BootloaderVersionDigits writes it ("1.05", "2.1A"); none when the text
// is not one.
std::optional<BootloaderVersion> ParseBootloaderVersion(std::string_view text);

// What a job expects of the device that answers; an empty field takes any.
struct ExpectedDevice {
    std::optional<int> deviceId;
    std::optional<BootloaderVersion> bootloaderMin;
};

// The FrontEnd's expectDevice for `expected`: none for a device that matches, otherwise the
// verdict ("wrong device: device id 2, the job expects 1"). Empty when nothing is expected.
std::function<std::optional<std::string>(const BootloaderInfo&)> ExpectDevicePredicate(
    const ExpectedDevice& expected);
