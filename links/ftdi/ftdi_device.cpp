#include "links/ftdi/ftdi_device.h"

#include <algorithm>
#include <array>
#include <vector>

namespace {

// The text up to the buffer's first zero, as a zero-terminated buffer of that size holds it.
std::string TextOf(std::span<const char> buffer) {
    const auto end = std::find(buffer.begin(), buffer.end(), '\0');
    return std::string(buffer.begin(), end);
}

}  // namespace

CFTDI_Device::~CFTDI_Device() {
    library_.Close(handle_);
    handle_ = nullptr;
}

int CFTDI_Device::ListDevices_Number(std::uint32_t* count) {
    if (count == nullptr) {
        return -1;
    }
    std::uint32_t listed = 0;
    if (library_.CountDevices(listed) != kFtdiOk) {
        return -21;
    }
    *count = listed;
    return 0;
}

int CFTDI_Device::ListDevices_SerialNumber(int index, std::string* text) {
    if (text == nullptr) {
        return -1;
    }
    text->clear();
    std::array<char, kSerialNumberBufferSize> buffer{};
    // The library takes the index as a plain value of 16 bits.
    const auto plain = static_cast<std::uint32_t>(index) & 0xFFFFu;
    if (library_.SerialNumberByIndex(plain, buffer) != kFtdiOk) {
        return -21;
    }
    buffer.back() = '\0';
    *text = TextOf(buffer);
    return 0;
}

int CFTDI_Device::ListDevices_Description(int index, std::string* text) {
    if (text == nullptr) {
        return -1;
    }
    text->clear();
    if (index < 0) {
        return -10;  // no device has a negative index
    }
    std::vector<std::string> descriptions;
    if (library_.AllDescriptions(descriptions) != kFtdiOk) {
        return -21;
    }
    if (static_cast<std::size_t>(index) >= descriptions.size()) {
        return -10;
    }
    // Each description as a 64-byte buffer with its terminating zero holds it.
    const std::string& description = descriptions[static_cast<std::size_t>(index)];
    *text = TextOf(std::span(description.data(), description.size()))
                .substr(0, kDescriptionBufferSize - 1);
    return 0;
}

int CFTDI_Device::Open_ByIndex(int index) {
    library_.Close(handle_);
    handle_ = nullptr;
    FtdiHandle opened = nullptr;
    if (const FtdiStatus status = library_.OpenByIndex(index, opened); status != kFtdiOk) {
        return status == kFtdiPortNotATerminal ? -22 : -21;
    }
    handle_ = opened;
    return 0;
}

int CFTDI_Device::Close() {
    const FtdiStatus status = library_.Close(handle_);
    handle_ = nullptr;
    return Code(status);
}

int CFTDI_Device::Write(std::span<const std::uint8_t> bytes) {
    if (bytes.data() == nullptr) {
        return -1;
    }
    if (bytes.empty()) {
        return -2;
    }
    return OnDevice([&](FtdiHandle h) {
        std::uint32_t written = 0;  // a short write counts as success
        return library_.Write(h, bytes, written);
    });
}

template <typename Call>
int CFTDI_Device::ReadWith(std::span<std::uint8_t> buffer, std::uint32_t* got, Call call) {
    if (got != nullptr) {
        *got = 0;  // a caller always finds a defined count
    }
    if (buffer.data() == nullptr) {
        return -1;
    }
    if (buffer.empty()) {
        return -2;
    }
    if (got == nullptr) {
        return -3;
    }
    return OnDevice([&](FtdiHandle h) {
        std::uint32_t count = 0;
        const FtdiStatus status = call(h, count);
        *got = std::min<std::uint32_t>(count, static_cast<std::uint32_t>(buffer.size()));
        return status;
    });
}

int CFTDI_Device::Read(std::span<std::uint8_t> buffer, std::uint32_t* got) {
    return ReadWith(buffer, got, [&](FtdiHandle h, std::uint32_t& count) {
        return library_.Read(h, buffer, count);
    });
}

int CFTDI_Device::ReadWaiting(std::span<std::uint8_t> buffer, std::uint32_t* got) {
    return ReadWith(buffer, got, [&](FtdiHandle h, std::uint32_t& count) {
        return library_.ReadWaiting(h, buffer, count);
    });
}

int CFTDI_Device::SetBaudRate(std::uint32_t baud) {
    return OnDevice([&](FtdiHandle h) { return library_.SetBaudRate(h, baud); });
}

int CFTDI_Device::SetDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits,
                                         std::uint8_t parity) {
    return OnDevice([&](FtdiHandle h) {
        return library_.SetDataCharacteristics(h, wordLength, stopBits, parity);
    });
}

int CFTDI_Device::SetFlowControl(std::uint16_t mode) {
    return OnDevice([&](FtdiHandle h) { return library_.SetFlowControl(h, mode, 0, 0); });
}

int CFTDI_Device::SetUSBParameters(std::uint32_t inSize, std::uint32_t outSize) {
    const auto clamp = [](std::uint32_t size) {
        return std::clamp<std::uint32_t>(size, 62, 65535);
    };
    return OnDevice(
        [&](FtdiHandle h) { return library_.SetUsbParameters(h, clamp(inSize), clamp(outSize)); });
}

int CFTDI_Device::SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) {
    return OnDevice([&](FtdiHandle h) { return library_.SetTimeouts(h, readMs, writeMs); });
}

int CFTDI_Device::SetLatencyTimer(unsigned ms) {
    const auto clamped = static_cast<std::uint8_t>(std::clamp(ms, 2u, 255u));
    return OnDevice([&](FtdiHandle h) { return library_.SetLatencyTimer(h, clamped); });
}

int CFTDI_Device::SetChars(std::uint8_t eventChar, std::uint8_t eventEnabled,
                           std::uint8_t errorChar, std::uint8_t errorEnabled) {
    return OnDevice([&](FtdiHandle h) {
        return library_.SetChars(h, eventChar, eventEnabled, errorChar, errorEnabled);
    });
}

int CFTDI_Device::Purge_RX() {
    return OnDevice([&](FtdiHandle h) { return library_.Purge(h, kFtdiPurgeRx); });
}

int CFTDI_Device::Purge_TX() {
    return OnDevice([&](FtdiHandle h) { return library_.Purge(h, kFtdiPurgeTx); });
}
