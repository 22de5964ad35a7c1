#include "links/ftdi/corvane_frame.h"

#include <algorithm>
#include <array>
#include <utility>

namespace {

constexpr std::uint8_t kEscape = 0x3F;

// The device information payload: byte 0 says what it is, the text fields start at byte 8.
constexpr std::uint8_t kDeviceInformationTag = 0x05;
constexpr std::size_t kDeviceInformationText = 8;

// Text fields separated by carriage returns, a run of them counting as one; the text ends at
// its first zero byte.
std::vector<std::string> TextFields(std::span<const std::uint8_t> bytes) {
    const auto end = std::find(bytes.begin(), bytes.end(), 0);
    std::vector<std::string> fields;
    std::string field;
    for (auto it = bytes.begin(); it != end; ++it) {
        if (*it != '\r') {
            field.push_back(static_cast<char>(*it));
        } else if (!field.empty()) {
            fields.push_back(std::exchange(field, {}));
        }
    }
    if (!field.empty()) {
        fields.push_back(field);
    }
    return fields;
}

}  // namespace

std::vector<std::uint8_t> BuildCorvaneFrame(std::uint8_t command,
                                            std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> frame(data.size() + kCorvaneFrameOverhead);
    frame[0] = kCorvaneFrameStart;
    frame[1] = 0x00;
    frame[2] = command;
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    frame.back() = kCorvaneFrameEnd;
    return frame;
}

std::size_t UnescapeAnswer(std::span<std::uint8_t> bytes) {
    std::size_t count = bytes.size();
    for (std::size_t i = 0; i + 1 < count; ++i) {
        if (bytes[i] != kEscape) {
            continue;
        }
        std::copy(bytes.begin() + static_cast<long>(i) + 1,
                  bytes.begin() + static_cast<long>(count), bytes.begin() + static_cast<long>(i));
        --count;
        static constexpr std::array<std::uint8_t, 4> kEscaped{0x3F, 0x7F, 0xBF, 0xFF};
        if (bytes[i] < kEscaped.size()) {
            bytes[i] = kEscaped[bytes[i]];
        }
    }
    return count;
}

std::optional<CorvaneVersions> ParseDeviceInformation(std::span<const std::uint8_t> payload) {
    if (payload.empty() || payload[0] != kDeviceInformationTag) {
        return std::nullopt;
    }
    const std::vector<std::string> fields =
        payload.size() > kDeviceInformationText
            ? TextFields(payload.subspan(kDeviceInformationText))
            : std::vector<std::string>{};
    CorvaneVersions versions;
    if (fields.size() > 1) {
        versions.hardware = fields[1];
    }
    if (fields.size() > 2) {
        versions.software = fields[2];
    }
    return versions;
}
