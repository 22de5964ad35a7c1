// The FTDI link: the device list, opening a device at the link's settings, the Corvane command
// exchange (its bytes in corvane_frame.cpp), the bootloader dialogue, and the replug guidance
// (replug_guidance.cpp).

#include "links/ftdi/communication_ftdi.h"

#include <algorithm>
#include <array>

#include "engine/bootloader_protocol.h"
#include "engine/device_types.h"
#include "engine/link_profiles.h"
#include "links/drain_input.h"
#include "links/ftdi/corvane_frame.h"
#include "links/ftdi/ftdi_device.h"
#include "links/usb_transport.h"
#include "log/text_format.h"

namespace {

constexpr int F = kSourceFtdi;
constexpr int kTrace = 4;
// A Corvane command's answer: it must have room for this much, and waits this long for its
// start byte, polling with this pause, then lets the rest arrive for this long.
constexpr int kMinimumCapacity = 16;
constexpr unsigned kAnswerTimeoutMs = 200;
constexpr unsigned kAnswerPollMs = 1;
constexpr unsigned kBeforeAnswerMs = 2;
constexpr std::size_t kDeviceInformationCapacity = 64;
// The driver's reads of waiting input take this much at a time.
constexpr std::size_t kDiscardChunk = 256;

// The open device's settings: USB transfer sizes in bytes, read and write time-outs, and the
// latency timer after which the chip sends what it holds.
constexpr std::uint32_t kUsbTransferBytes = 200;
constexpr std::uint32_t kReadTimeoutMs = 50;
constexpr std::uint32_t kWriteTimeoutMs = 50;
constexpr std::uint8_t kLatencyMs = 2;

}  // namespace

// The bootloader dialogue's carriage over the open device: single-byte reads that return at
// once or after the driver's 50 ms read time-out.
class FtdiTransport final : public UsbTransport {
  public:
    explicit FtdiTransport(CCommunication& link) : link_(link) {}

    bool IsOpen() const override { return link_.isOpen_; }

    IoResult Write(std::span<const std::uint8_t> bytes) override {
        const int code = link_.device_->Write(bytes);
        return {code == 0, code, code == 0 ? bytes.size() : 0};
    }

    IoResult Read(std::span<std::uint8_t> buffer) override {
        std::uint32_t got = 0;
        const int code = link_.device_->Read(buffer, &got);
        return {code == 0, code, got};
    }

    std::vector<std::uint8_t> DiscardInput() override {
        return DrainInput(
            kDiscardChunk, [this](std::span<std::uint8_t> into) -> std::optional<std::size_t> {
                std::uint32_t got = 0;
                return link_.device_->ReadWaiting(into, &got) == 0 ? std::optional<std::size_t>(got)
                                                                   : std::nullopt;
            });
    }

    void Close() override { link_.Dev_Close(); }

  private:
    CCommunication& link_;
};

CCommunication::CCommunication(LogSink& log, Clock& clock, std::unique_ptr<FtdiLibrary> library,
                               int listLimit)
    : log_(log),
      clock_(clock),
      library_(std::move(library)),
      device_(std::make_unique<CFTDI_Device>(*library_)),
      transport_(std::make_unique<FtdiTransport>(*this)),
      listLimit_(std::max(listLimit, 0)) {}

CCommunication::~CCommunication() {
    if (isOpen_) {
        device_->Close();
        isOpen_ = false;
    }
    device_.reset();  // closes its handle again, before the library goes
}

void CCommunication::Dev_Close() {
    log_.Log(kTrace, "Dev_Close()", F);
    if (isOpen_) {
        device_->Close();
    }
    isOpen_ = false;
}

int CCommunication::Dev_Open(int index, int baud) {
    Logf(log_, kTrace, F, "Dev_Open(%i, %i)", index, baud);
    if (isOpen_) {
        Dev_Close();
    }
    if (index < 0 || baud < 0) {
        log_.Log(kTrace, "~Dev_Open() - Parametererror", F);
        return -1;
    }
    if (const int opened = device_->Open_ByIndex(index); opened != 0) {
        if (opened == -22) {
            log_.Log(kTrace, "~Dev_Open() - port is not a terminal", F);
            return kOpenNotATerminal;
        }
        log_.Log(kTrace, "~Dev_Open() - open failed", F);
        return -2;
    }
    isOpen_ = true;
    CFTDI_Device& d = *device_;
    const bool configured = d.SetBaudRate(static_cast<std::uint32_t>(baud)) == 0 &&
                            d.SetDataCharacteristics(8, 0, 0) == 0 && d.SetFlowControl(0) == 0 &&
                            d.SetUSBParameters(kUsbTransferBytes, kUsbTransferBytes) == 0 &&
                            d.SetTimeouts(kReadTimeoutMs, kWriteTimeoutMs) == 0 &&
                            d.SetLatencyTimer(kLatencyMs) == 0 && d.SetChars(0xFF, 1, 0, 0) == 0;
    if (!configured) {
        Dev_Close();
        log_.Log(kTrace, "~Dev_Open() - set parameter failed", F);
        return -3;
    }
    d.Purge_RX();
    d.Purge_TX();
    log_.Log(kTrace, "~Dev_Open() - done", F);
    return 0;
}

int CCommunication::Dev_UpdateDeviceList() {
    log_.Log(kTrace, "Dev_UpdateDeviceList()", F);
    if (isOpen_) {
        Dev_Close();
    }
    std::uint32_t count = 0;
    if (device_->ListDevices_Number(&count) != 0) {
        log_.Log(kTrace, "~Dev_UpdateDeviceList() - ListDevices_Number() failed", F);
        return -1;
    }
    deviceCount_ =
        static_cast<int>(std::min<std::uint32_t>(count, static_cast<unsigned>(listLimit_)));
    deviceTable_.assign(static_cast<std::size_t>(deviceCount_), {});
    for (int i = 0; i < deviceCount_; ++i) {
        FTDI_DeviceEntry& entry = deviceTable_[static_cast<std::size_t>(i)];
        std::string text;
        if (device_->ListDevices_Description(i, &text) == 0) {
            entry.name = text;
        }
        if (device_->ListDevices_SerialNumber(i, &text) == 0) {
            entry.serialNumber = text;
        }
        if (const DeviceType* type = FindDeviceType(UpdateLink::Ftdi, entry.name);
            type != nullptr && type->versionCommand != 0 &&
            (queryOnly_.empty() || entry.serialNumber == queryOnly_)) {
            QueryDeviceInformation(i, type->versionCommand, entry);
        }
    }
    Logf(log_, kTrace, F, "~Dev_UpdateDeviceList() - done (%i devices found)", deviceCount_);
    return 0;
}

int CCommunication::Dev_GetDeviceCount() const {
    return deviceCount_;
}

int CCommunication::Dev_GetDeviceEntry(int index, FTDI_DeviceEntry& entry) const {
    entry = {};
    if (index < 0 || index >= deviceCount_) {
        return -1;
    }
    entry = deviceTable_[static_cast<std::size_t>(index)];
    return 0;
}

int CCommunication::Dev_FindDevice(std::string_view name, std::string_view serialNumber) {
    if (Dev_UpdateDeviceList() != 0) {
        return -1;
    }
    for (int i = 0; i < deviceCount_; ++i) {
        const FTDI_DeviceEntry& entry = deviceTable_[static_cast<std::size_t>(i)];
        if (entry.name == name && entry.serialNumber == serialNumber) {
            return i;
        }
    }
    return -2;
}

int CCommunication::Dev_SynchroniseBootloader(int index) {
    Logf(log_, kTrace, F, "Dev_SynchroniseBootloader(%i)", index);
    if (!isOpen_ && Dev_Open(index, kBootloaderBaud) != 0) {
        return -1;
    }
    return SynchroniseHunting({*transport_, clock_, log_}, FtdiSyncProfile(), info_);
}

int CCommunication::Dev_UpdateAVR(int index, const std::string& path, ProgressSink* progress) {
    Logf(log_, kTrace, F, "Dev_UpdateAVR(%i, %s)", index, path.c_str());
    const TransferRequest request{path, progress,
                                  [this, index] { return Dev_Open(index, kBootloaderBaud) == 0; }};
    return RunTransfer({*transport_, clock_, log_}, FtdiTransferProfile(), request, info_);
}

int CCommunication::Send_Corvane_CMD(int index, std::uint8_t command,
                                     std::span<const std::uint8_t> data, std::uint8_t* answer,
                                     int* length) {
    Logf(log_, kTrace, F, "Send_Corvane_CMD(Index: %i, Cmd: %.2X)", index,
         static_cast<unsigned>(command));
    // The frame is start, 0x00, command, data, end in one 128-byte buffer.
    if (index < 0 || answer == nullptr || length == nullptr || *length < kMinimumCapacity ||
        data.size() > kCorvaneFrameBufferSize - kCorvaneFrameOverhead) {
        log_.Log(kTrace, "~Send_Corvane_CMD() - Parametererror", F);
        return -1;
    }
    if (Dev_Open(index, kCommandBaud) != 0) {
        log_.Log(kTrace, "~Send_Corvane_CMD() - Dev_Open() failed", F);
        return -2;
    }
    if (device_->Write(BuildCorvaneFrame(command, data)) != 0) {
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
            clock_.Sleep(kAnswerPollMs);
        }
        if (byte == kCorvaneFrameStart) {
            break;
        }
        if (clock_.NowMs() - start > kAnswerTimeoutMs) {
            Dev_Close();
            log_.Log(kTrace, "~Send_Corvane_CMD() - no answer form CV", F);
            return -4;
        }
    }
    clock_.Sleep(kBeforeAnswerMs);
    std::array<std::uint8_t, kCorvaneFrameBufferSize> received{};
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

void CCommunication::QueryDeviceInformation(int index, std::uint8_t command,
                                            FTDI_DeviceEntry& entry) {
    std::array<std::uint8_t, kDeviceInformationCapacity> payload{};
    int length = static_cast<int>(payload.size());
    if (Send_Corvane_CMD(index, command, {}, payload.data(), &length) != 0) {
        return;
    }
    if (const auto versions =
            ParseDeviceInformation(std::span(payload).first(static_cast<std::size_t>(length)))) {
        entry.hardware = versions->hardware;
        entry.software = versions->software;
    }
}

int CCommunication::Dev_RebootTargetDevice(std::string_view name, std::string_view serialNumber,
                                           ReplugPrompt& prompt) {
    return GuideReplug(log_, clock_, prompt, name, serialNumber,
                       [&] { return Dev_FindDevice(name, serialNumber); });
}
