// The FTDI link's dealings with a device before its bootloader listens: one command frame
// with a Corvane device at 1000000 baud, and the guidance through unplugging and replugging.

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "engine/link_profiles.h"
#include "links/ftdi/communication_ftdi.h"
#include "links/ftdi/ftdi_device.h"
#include "log/escaped_text.h"
#include "log/text_format.h"

namespace {

constexpr int F = kSourceFtdi;
constexpr int kTrace = 4;
constexpr std::uint8_t kFrameStart = 0xBF;
constexpr std::uint8_t kFrameEnd = 0xFF;
constexpr std::uint8_t kEscape = 0x3F;
constexpr std::size_t kFrameBufferSize = 128;
constexpr int kMinimumCapacity = 16;
constexpr unsigned kAnswerTimeoutMs = 200;
constexpr unsigned kBeforeAnswerMs = 2;
constexpr unsigned kLookPauseMs = 10;

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

int CCommunication::Send_Corvane_CMD(int index, std::uint8_t command,
                                     std::span<const std::uint8_t> data, std::uint8_t* answer,
                                     int* length) {
    Logf(log_, kTrace, F, "Send_Corvane_CMD(Index: %i, Cmd: %.2X)", index,
         static_cast<unsigned>(command));
    // The frame is start, 0x00, command, data, end in one 128-byte buffer.
    if (index < 0 || answer == nullptr || length == nullptr || *length < kMinimumCapacity ||
        data.size() > kFrameBufferSize - 4) {
        log_.Log(kTrace, "~Send_Corvane_CMD() - Parametererror", F);
        return -1;
    }
    if (Dev_Open(index, kCommandBaud) != 0) {
        log_.Log(kTrace, "~Send_Corvane_CMD() - Dev_Open() failed", F);
        return -2;
    }
    std::vector<std::uint8_t> frame{kFrameStart, 0x00, command};
    frame.insert(frame.end(), data.begin(), data.end());
    frame.push_back(kFrameEnd);
    if (device_->Write(frame) != 0) {
        Dev_Close();
        log_.Log(kTrace, "~Send_Corvane_CMD() - write() failed", F);
        return -3;
    }

    // Anything before the start byte is dropped.
    const std::uint64_t start = clock_.NowMs();
    for (;;) {
        std::uint8_t byte = 0;
        std::uint32_t got = 0;
        if (device_->Read(std::span(&byte, 1), &got) != 0 || got != 1) {
            byte = 0;
            clock_.Sleep(1);
        }
        if (byte == kFrameStart) {
            break;
        }
        if (clock_.NowMs() - start > kAnswerTimeoutMs) {
            Dev_Close();
            log_.Log(kTrace, "~Send_Corvane_CMD() - no answer form CV", F);
            return -4;
        }
    }
    clock_.Sleep(kBeforeAnswerMs);
    std::array<std::uint8_t, kFrameBufferSize> received{};
    std::uint32_t count = 0;
    device_->Read(received, &count);  // the count decides, not the call's result
    if (count < 3) {
        Dev_Close();
        log_.Log(kTrace, "~Send_Corvane_CMD() - response from CV to short", F);
        return -5;
    }
    Dev_Close();
    // The last byte is the end byte; the first answer byte is not part of the payload.
    const std::size_t unescaped = UnescapeAnswer(std::span(received).first(count - 1));
    const auto payload = std::span(received).subspan(1, unescaped - 1);
    if (payload.size() > static_cast<std::size_t>(*length)) {
        return -15;
    }
    std::copy(payload.begin(), payload.end(), answer);
    *length = static_cast<int>(payload.size());
    log_.LogData(kTrace, std::span(received).first(unescaped), F);
    Logf(log_, kTrace, F, "~Send_Corvane_CMD() - response from CV (Data %.2X, Length: %i)",
         payload.empty() ? 0u : static_cast<unsigned>(payload[0]), *length);
    return 0;
}

void CCommunication::QueryDeviceInformation(int index, FTDI_DeviceEntry& entry) {
    std::array<std::uint8_t, 64> payload{};
    int length = static_cast<int>(payload.size());
    if (Send_Corvane_CMD(index, kDeviceInformation, {}, payload.data(), &length) != 0 ||
        length < 1 || payload[0] != kDeviceInformationTag) {
        return;
    }
    const auto text = std::span(payload).first(static_cast<std::size_t>(length));
    const std::vector<std::string> fields = text.size() > kDeviceInformationText
                                                ? TextFields(text.subspan(kDeviceInformationText))
                                                : std::vector<std::string>{};
    if (fields.size() > 1) {
        entry.hardware = fields[1];
    }
    if (fields.size() > 2) {
        entry.software = fields[2];
    }
}

bool CCommunication::WaitForPresence(std::string_view name, std::string_view serialNumber,
                                     bool present, int& index, ReplugPrompt& prompt) {
    // Cancel is looked at before every look and after the look that ends the wait.
    for (;;) {
        if (prompt.Cancelled()) {
            return false;
        }
        index = Dev_FindDevice(name, serialNumber);
        if ((index >= 0) == present) {
            return !prompt.Cancelled();
        }
        clock_.PumpWait(kLookPauseMs);
    }
}

int CCommunication::Dev_RebootTargetDevice(std::string_view name, std::string_view serialNumber,
                                           ReplugPrompt& prompt) {
    const std::string device(name);
    Logf(log_, kTrace, F, "Dev_RebootTargetDevice(%s, %s)", EscapedText(device).c_str(),
         EscapedText(serialNumber).c_str());
    if (Dev_FindDevice(name, serialNumber) < 0) {
        log_.Log(kTrace, "~Dev_RebootTargetDevice() - no device found", F);
        prompt.InternalError("Internal Error (Reboot_Target_Device pos2)");
        prompt.Hide();
        return -1;
    }
    const auto cancelled = [&] {
        log_.Log(kTrace, "~Dev_RebootTargetDevice() - cancel", F);
        prompt.Hide();
        return -99;
    };
    int index = -1;
    prompt.Show("Request",
                StrPrintf("Please remove the USB cable from the %s\nand power down the device.",
                          device.c_str()));
    if (!WaitForPresence(name, serialNumber, false, index, prompt)) {
        return cancelled();
    }
    log_.Log(kTrace, "Dev_RebootTargetDevice() - device removed", F);
    prompt.Show("Request",
                StrPrintf("Please reconnect the USB cable to the %s\nand power up the device.",
                          device.c_str()));
    if (!WaitForPresence(name, serialNumber, true, index, prompt)) {
        return cancelled();
    }
    Logf(log_, kTrace, F, "Dev_RebootTargetDevice() - device reconnected (index %i)", index);
    log_.Log(kTrace, "~Dev_RebootTargetDevice() - done", F);
    prompt.Hide();
    return index;
}
