// The USBXpress XML command frame. An input is a command word (two bytes) and a text of any
// bytes. A text that fits the 1024-byte frame buffer gives a frame that parses back to its
// command word and its text, with the length of what follows and a correct CRC-32 in the
// command's byte order; a longer one gives no frame.
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "links/usbxpress/communication_silabs.h"

namespace {

constexpr std::size_t kFrameBuffer = 1024;
constexpr std::size_t kHeader = 6;  // command word and length
constexpr std::size_t kCrc = 4;

// CRC-32 bit by bit: reflected polynomial 0xEDB88320, preset to all ones, complemented.
std::uint32_t BitwiseCrc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1u) != 0 ? 0xEDB88320u : 0u);
        }
    }
    return ~crc;
}

std::uint32_t Field(std::span<const std::uint8_t> bytes, bool leastFirst) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const std::uint8_t b = leastFirst ? bytes[bytes.size() - 1 - i] : bytes[i];
        value = value << 8 | b;
    }
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(std::span(data, size));
    const std::uint8_t low = in.Byte();
    const auto command = static_cast<std::uint16_t>(low | in.Byte() << 8);
    const std::span<const std::uint8_t> rest = in.Rest();
    const std::string_view text(reinterpret_cast<const char*>(rest.data()), rest.size());

    const std::vector<std::uint8_t> frame = BuildXmlCommandFrame(command, text);
    const std::size_t units = 2 * text.size();
    if (units + kHeader + kCrc > kFrameBuffer) {
        FuzzCheck(frame.empty(), "a text too long for the frame buffer gives no frame");
        return 0;
    }
    FuzzCheck(frame.size() == kHeader + units + kCrc, "the frame holds the text and no more");
    const std::span<const std::uint8_t> f(frame);
    const bool leastFirst = command == CSILab_USB::kXmlCommand;
    FuzzCheck(Field(f.first(2), true) == command,
              "the command word leads, least significant first");
    FuzzCheck(Field(f.subspan(2, 4), leastFirst) == units + kCrc,
              "the length counts the text and the CRC");
    for (std::size_t i = 0; i < text.size(); ++i) {
        FuzzCheck(
            Field(f.subspan(kHeader + 2 * i, 2), leastFirst) == static_cast<unsigned char>(text[i]),
            "each character is one code unit");
    }
    FuzzCheck(Field(f.last(kCrc), leastFirst) == BitwiseCrc32(f.first(kHeader + units)),
              "the CRC-32 covers everything before it");
    return 0;
}
