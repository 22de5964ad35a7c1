// A Corvane device's answer to a command frame, through the FTDI link over devices in virtual
// time. An input is a header (the answer buffer's capacity, the command's data length, how the
// rest is used) and bytes: either the answer as the device sends it, or a payload the device
// sends escaped between its start and end byte. Unescaping undoes exactly the device's
// escapes; the payload is the answer between the start byte and the last byte, unescaped,
// without its first byte; the versions a device reports hold no separator.
#include <algorithm>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "fake_ftdi_bus.h"
#include "fuzz_support.h"
#include "links/ftdi/communication_ftdi.h"
#include "links/ftdi/corvane_frame.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint8_t kStart = 0xBF;
constexpr std::uint8_t kEnd = 0xFF;
constexpr std::uint8_t kEscape = 0x3F;
constexpr std::array<std::uint8_t, 4> kEscaped{0x3F, 0x7F, 0xBF, 0xFF};
constexpr std::size_t kAnswerBuffer = 128;

// The device's side: each of the four reserved bytes goes as the escape and its index.
Bytes Escape(std::span<const std::uint8_t> bytes) {
    Bytes out;
    for (const std::uint8_t b : bytes) {
        const auto reserved = std::find(kEscaped.begin(), kEscaped.end(), b);
        if (reserved != kEscaped.end()) {
            out.push_back(kEscape);
            out.push_back(static_cast<std::uint8_t>(reserved - kEscaped.begin()));
        } else {
            out.push_back(b);
        }
    }
    return out;
}

// The escapes undone front to back: the escape and the byte after it stand for one byte; an
// escape at the very end stays.
Bytes Unescape(std::span<const std::uint8_t> bytes) {
    Bytes out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == kEscape && i + 1 < bytes.size()) {
            const std::uint8_t x = bytes[++i];
            out.push_back(x < kEscaped.size() ? kEscaped[x] : x);
        } else {
            out.push_back(bytes[i]);
        }
    }
    return out;
}

void CheckUnescape(std::span<const std::uint8_t> bytes) {
    Bytes inPlace(bytes.begin(), bytes.end());
    inPlace.resize(UnescapeAnswer(inPlace));
    FuzzCheck(inPlace == Unescape(bytes), "unescaping goes front to back, pair by pair");
    Bytes escaped = Escape(bytes);
    escaped.resize(UnescapeAnswer(escaped));
    FuzzCheck(std::equal(escaped.begin(), escaped.end(), bytes.begin(), bytes.end()),
              "unescaping undoes the device's escapes");
}

// The payload the link must give for an answer, or the code it must end with.
struct Expected {
    int code = 0;
    Bytes payload;
};

Expected ExpectedFor(const Bytes& answer, int capacity) {
    const auto start = std::find(answer.begin(), answer.end(), kStart);
    if (start == answer.end()) {
        return {-4, {}};
    }
    // What follows the start byte, as far as one read of the answer buffer takes it.
    const auto rest =
        std::span(answer).subspan(static_cast<std::size_t>(start - answer.begin()) + 1);
    const auto read = rest.first(std::min(rest.size(), kAnswerBuffer));
    if (read.size() < 3) {
        return {-5, {}};
    }
    Bytes payload = Unescape(read.first(read.size() - 1));
    payload.erase(payload.begin());
    if (payload.size() > static_cast<std::size_t>(capacity)) {
        return {-15, {}};
    }
    return {0, payload};
}

// Sends one command frame to a Corvane device that answers every frame with `answer`; `sent`
// is the payload when the device framed one that fits the answer buffer.
void CheckCommand(const Bytes& answer, int capacity, std::span<const std::uint8_t> data,
                  const std::optional<Bytes>& sent) {
    VirtualClock clock;
    auto owned = std::make_unique<FakeFtdiBus>(clock);
    FakeFtdiBus& bus = *owned;
    bus.devices = {{"Corvane", "CV1",
                    [&answer](std::span<const std::uint8_t>, std::uint32_t) { return answer; }}};
    FormattingLog log;
    CCommunication link(log, clock, std::move(owned));
    Bytes buffer(static_cast<std::size_t>(std::max(capacity, 0)) + 1, 0xA5);
    int length = capacity;
    const int result = link.Send_Corvane_CMD(0, 0x04, data, buffer.data(), &length);
    FuzzCheck(!link.IsOpen(), "the device is closed after every command");

    if (capacity < 16 || data.size() > kAnswerBuffer - 4) {
        FuzzCheck(result == -1 && bus.written.empty(), "a refused command sends nothing");
        return;
    }
    // Built by index: g++ 12 warns of an overflow in the inserts' inlined copies.
    Bytes frame(data.size() + 4, 0x00);
    frame[0] = kStart;
    frame[2] = 0x04;
    std::copy(data.begin(), data.end(), frame.begin() + 3);
    frame[frame.size() - 1] = kEnd;
    FuzzCheck(bus.written[0] == std::vector<Bytes>{frame},
              "the command goes out as start, 0, command, data, end");
    const Expected expected = ExpectedFor(answer, capacity);
    FuzzCheck(result == expected.code, "the command ends as its answer says");
    if (result == 0) {
        FuzzCheck(length == static_cast<int>(expected.payload.size()) &&
                      std::equal(expected.payload.begin(), expected.payload.end(), buffer.begin()),
                  "the payload is the unescaped answer after its first byte");
        FuzzCheck(buffer[static_cast<std::size_t>(capacity)] == 0xA5,
                  "nothing is written past the answer buffer's capacity");
    }
    if (sent) {
        FuzzCheck(result == (sent->size() <= static_cast<std::size_t>(capacity) ? 0 : -15),
                  "a framed payload that fits the answer buffer comes through or is too long");
        FuzzCheck(result != 0 || expected.payload == *sent,
                  "a framed payload comes through unchanged");
    }
}

// Lists a Corvane device whose every answer is `answer`.
void CheckDeviceInformation(const Bytes& answer) {
    VirtualClock clock;
    auto owned = std::make_unique<FakeFtdiBus>(clock);
    owned->devices = {{"Corvane", "CV1",
                       [&answer](std::span<const std::uint8_t>, std::uint32_t) { return answer; }}};
    FormattingLog log;
    CCommunication link(log, clock, std::move(owned));
    FuzzCheck(link.Dev_UpdateDeviceList() == 0, "the list is read");
    FTDI_DeviceEntry entry;
    FuzzCheck(link.Dev_GetDeviceEntry(0, entry) == 0, "the device is listed");
    for (const std::string& version : {entry.hardware, entry.software}) {
        FuzzCheck(version.find_first_of(std::string("\r\0", 2)) == std::string::npos,
                  "a reported version holds no carriage return and no zero byte");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(std::span(data, size));
    const std::uint8_t mode = in.Byte();
    const int capacity = 12 + in.Byte() % 72;
    const std::size_t dataLength = in.Byte();
    static const Bytes kData(256, 0x5A);
    const std::span<const std::uint8_t> rest = in.Rest();

    CheckUnescape(rest);
    Bytes answer;
    std::optional<Bytes> sent;
    if ((mode & 1) != 0) {
        // The rest is a first byte and a payload that the device sends escaped and framed.
        const Bytes escaped = Escape(rest);
        answer.push_back(kStart);
        answer.insert(answer.end(), escaped.begin(), escaped.end());
        answer.push_back(kEnd);
        if (escaped.size() >= 2 && escaped.size() + 1 <= kAnswerBuffer) {
            sent.emplace(rest.begin() + 1, rest.end());
        }
    } else {
        answer.assign(rest.begin(), rest.end());
    }
    CheckCommand(answer, capacity, std::span(kData).first(dataLength), sent);
    if ((mode & 2) != 0) {
        CheckDeviceInformation(answer);
    }
    return 0;
}
