#include "update/expected_device.h"

#include <cctype>

namespace {

std::optional<unsigned> HexNumber(std::string_view digits, std::size_t maxDigits) {
    if (digits.empty() || digits.size() > maxDigits) {
        return std::nullopt;
    }
    unsigned value = 0;
    for (const char c : digits) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) {
            return std::nullopt;
        }
        const int digit = std::isdigit(static_cast<unsigned char>(c))
                              ? c - '0'
                              : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
        value = value * 16 + static_cast<unsigned>(digit);
    }
    return value;
}

}  // namespace

std::optional<BootloaderVersion> ParseBootloaderVersion(std::string_view text) {
    // The low byte always has its two digits, so "1.5" is not taken for 1.05.
    const std::size_t dot = text.find('.');
    if (dot == std::string_view::npos || text.size() - dot - 1 != 2) {
        return std::nullopt;
    }
    const std::optional<unsigned> high = HexNumber(text.substr(0, dot), 2);
    const std::optional<unsigned> low = HexNumber(text.substr(dot + 1), 2);
    if (!high || !low) {
        return std::nullopt;
    }
    return BootloaderVersion{static_cast<std::uint8_t>(*high), static_cast<std::uint8_t>(*low)};
}

std::function<std::optional<std::string>(const BootloaderInfo&)> ExpectDevicePredicate(
    const ExpectedDevice& expected) {
    if (!expected.deviceId && !expected.bootloaderMin) {
        return {};
    }
    return [expected](const BootloaderInfo& info) -> std::optional<std::string> {
        if (expected.deviceId && info.deviceId != *expected.deviceId) {
            return "wrong device: device id " + std::to_string(info.deviceId) +
                   ", the job expects " + std::to_string(*expected.deviceId);
        }
        const BootloaderVersion found{info.versionHigh, info.versionLow};
        if (const auto& least = expected.bootloaderMin; least && found < *least) {
            return "wrong device: bootloader version " +
                   BootloaderVersionDigits(found.high, found.low) + ", the job expects " +
                   BootloaderVersionDigits(least->high, least->low) + " or later";
        }
        return std::nullopt;
    };
}
