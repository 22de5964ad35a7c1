#include "links/usbxpress/communication_silabs.h"

#include <algorithm>
#include <array>
#include <functional>

#include "engine/bootloader_protocol.h"
#include "engine/crc32.h"
#include "engine/link_profiles.h"
#include "links/drain_input.h"
#include "links/usb_transport.h"
#include "links/usbxpress/usbxpress_vendor.h"
#include "log/text_format.h"

namespace {

constexpr int U = kSourceSilabs;
constexpr int kTrace = 4;
constexpr std::size_t kFrameBufferSize = 1024;
constexpr std::size_t kFrameOverhead = 10;  // command word, length, CRC
constexpr unsigned kAfterXmlCommandMs = 50;
// The library's read and write time-outs: short, so every read of the dialogue returns at once.
constexpr std::uint32_t kReadTimeoutMs = 1;
constexpr std::uint32_t kWriteTimeoutMs = 1;
// The library's reads of waiting input take this much at a time.
constexpr std::size_t kDiscardChunk = 256;

void Store(std::vector<std::uint8_t>& frame, std::size_t at, std::uint32_t value, int bytes,
           bool leastFirst) {
    for (int i = 0; i < bytes; ++i) {
        const int shift = 8 * (leastFirst ? i : bytes - 1 - i);
        frame[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> shift);
    }
}

}  // namespace

std::vector<std::uint8_t> BuildXmlCommandFrame(std::uint16_t command, std::string_view text) {
    const std::size_t n = 2 * text.size();  // one UTF-16 code unit per 8-bit character
    if (n + kFrameOverhead > kFrameBufferSize) {
        return {};
    }
    const bool leastFirst = command == CSILab_USB::kXmlCommand;
    std::vector<std::uint8_t> frame(n + kFrameOverhead);
    Store(frame, 0, command, 2, true);  // the command word is never swapped
    Store(frame, 2, static_cast<std::uint32_t>(n + 4), 4, leastFirst);
    for (std::size_t i = 0; i < text.size(); ++i) {
        Store(frame, 6 + 2 * i, static_cast<unsigned char>(text[i]), 2, leastFirst);
    }
    Store(frame, 6 + n, Crc32(std::span(frame).first(6 + n)), 4, leastFirst);
    return frame;
}

// The bootloader dialogue's carriage: with 1 ms library time-outs every read returns at once.
class SilabsTransport final : public UsbTransport {
  public:
    explicit SilabsTransport(CSILab_USB& link) : link_(link) {}

    bool IsOpen() const override { return link_.isOpen_; }

    // A short write is a failed one; the error is the library's status (0 for a short count).
    IoResult Write(std::span<const std::uint8_t> bytes) override {
        std::uint32_t written = 0;
        const SiStatus status = link_.Library(
            [&](UsbXpressLibrary& l) { return l.Write(link_.deviceHandle_, bytes, written); });
        return {status == kSiSuccess && written == bytes.size(), status, written};
    }

    // A time-out is no failure: it brings what came (0 included).
    IoResult Read(std::span<std::uint8_t> buffer) override {
        std::uint32_t got = 0;
        const SiStatus status = link_.Library(
            [&](UsbXpressLibrary& l) { return l.Read(link_.deviceHandle_, buffer, got); });
        const bool ok = status == kSiSuccess || status == kSiReadTimedOut;
        return {ok, status, ok ? std::min<std::size_t>(got, buffer.size()) : 0};
    }

    std::vector<std::uint8_t> DiscardInput() override {
        return DrainInput(
            kDiscardChunk, [this](std::span<std::uint8_t> into) -> std::optional<std::size_t> {
                std::uint32_t got = 0;
                const SiStatus status = link_.Library([&](UsbXpressLibrary& l) {
                    return l.ReadWaiting(link_.deviceHandle_, into, got);
                });
                return status == kSiSuccess ? std::optional<std::size_t>(got) : std::nullopt;
            });
    }

    void Close() override { link_.Dev_Close(); }

  private:
    CSILab_USB& link_;
};

CSILab_USB::CSILab_USB(LogSink& log, Clock& clock, std::unique_ptr<UsbXpressLibrary> library)
    : log_(log),
      clock_(clock),
      library_(library ? std::move(library) : MakeUsbXpressLibrary().library),
      transport_(std::make_unique<SilabsTransport>(*this)) {}

CSILab_USB::~CSILab_USB() {
    Dev_Close();
}

int CSILab_USB::Dev_GetNumDevices() {
    std::uint32_t count = 0;
    const SiStatus status = Library([&](UsbXpressLibrary& l) { return l.GetNumDevices(count); });
    if (status != kSiSuccess) {
        Logf(log_, kTrace, U, "SI_GetNumDevices() failed (return value %i)", status);
        return -1;
    }
    return static_cast<int>(count);
}

int CSILab_USB::Dev_Get_Description(int index, std::string& serialNumber,
                                    std::string& description) {
    if (index < 0 || index >= Dev_GetNumDevices()) {
        return -1;
    }
    std::array<char, 260> buffer{};
    const auto product = [&](std::uint32_t selector) {
        buffer.fill('\0');
        const SiStatus status = Library([&](UsbXpressLibrary& l) {
            return l.GetProductString(static_cast<std::uint32_t>(index), buffer, selector);
        });
        buffer.back() = '\0';
        return status;
    };
    if (const SiStatus status = product(kSiReturnSerialNumber); status != kSiSuccess) {
        Logf(log_, kTrace, U,
             "SI_GetProductString(SI_RETURN_SERIAL_NUMBER) failed (return value %i)", status);
        return -2;
    }
    serialNumber = buffer.data();
    if (const SiStatus status = product(kSiReturnDescription); status != kSiSuccess) {
        Logf(log_, kTrace, U, "SI_GetProductString(SI_RETURN_DESCRIPTION) failed (return value %i)",
             status);
        return -3;
    }
    description = buffer.data();
    return 0;
}

int CSILab_USB::Dev_Open(int index, int baud) {
    Logf(log_, kTrace, U, "Dev_Open(%i, %i)", index, baud);
    if (index < 0 || index >= Dev_GetNumDevices() || baud < 0) {
        log_.Log(kTrace, "~Dev_Open() - Parametererror", U);
        return -1;
    }
    if (isOpen_) {
        Dev_Close();
    }
    if (Dev_Get_Description(index, serialNumber_, description_) != 0) {
        log_.Log(kTrace, "~Dev_Open() - Dev_Get_Description() failed", U);
        return -2;
    }
    SiHandle handle = nullptr;
    if (Library([&](UsbXpressLibrary& l) {
            return l.Open(static_cast<std::uint32_t>(index), handle);
        }) != kSiSuccess) {
        log_.Log(kTrace, "~Dev_Open() - open failed", U);
        return -3;
    }
    struct Step {
        int code;
        const char* failure;
        std::function<SiStatus(UsbXpressLibrary&)> call;
    };
    const std::array<Step, 5> steps{{
        {-4, "~Dev_Open() - SI_FlushBuffers() failed",
         [&](UsbXpressLibrary& l) { return l.FlushBuffers(handle, 1, 1); }},
        {-5, "~Dev_Open() - SI_SetTimeouts() failed",
         [](UsbXpressLibrary& l) { return l.SetTimeouts(kReadTimeoutMs, kWriteTimeoutMs); }},
        {-6, "~Dev_Open() - SI_SetBaudRate() failed",
         [&](UsbXpressLibrary& l) {
             return l.SetBaudRate(handle, static_cast<std::uint32_t>(baud));
         }},
        {-7, "~Dev_Open() - SI_SetLineControl() failed",
         [&](UsbXpressLibrary& l) { return l.SetLineControl(handle, kLineControl); }},
        // CTS a status input, RTS held active, DTR held inactive, DSR and DCD inputs.
        {-8, "~Dev_Open() - SI_SetFlowControl() failed",
         [&](UsbXpressLibrary& l) { return l.SetFlowControl(handle, 0, 1, 0, 0, 0, false); }},
    }};
    for (const Step& step : steps) {
        if (Library(step.call) != kSiSuccess) {
            // The device goes back through the library that opened it.
            Library([&](UsbXpressLibrary& l) { return l.Close(handle); });
            log_.Log(kTrace, step.failure, U);
            return step.code;
        }
    }
    deviceHandle_ = handle;
    log_.Log(kTrace, "~Dev_Open() - done", U);
    isOpen_ = true;
    return 0;
}

void CSILab_USB::Dev_Close() {
    log_.Log(kTrace, "Dev_Close()", U);
    if (isOpen_) {
        Library([&](UsbXpressLibrary& l) { return l.Close(deviceHandle_); });
    }
    isOpen_ = false;
}

bool CSILab_USB::Send_XML_Cmd(std::uint16_t command, std::string_view text) {
    const std::string shown(text);
    Logf(log_, kTrace, U, "Send_XML_Cmd(0x%X, '%s')", static_cast<unsigned>(command),
         shown.c_str());
    if (!isOpen_) {
        log_.Log(kTrace, "~Send_XML_Cmd() - no connection available", U);
        return false;
    }
    const std::vector<std::uint8_t> frame = BuildXmlCommandFrame(command, text);
    if (frame.empty()) {
        Logf(log_, 2, U, "~Send_XML_Cmd() - command text too long (%i characters)",
             static_cast<int>(text.size()));
        return false;
    }
    const IoResult written = transport_->Write(frame);
    if (!written.ok) {
        Logf(log_, 2, U, "error %i SI_Write()", written.error);
        Dev_Close();
        return false;
    }
    log_.LogData(kTrace, frame, kSourceSilabsSent);
    clock_.Sleep(kAfterXmlCommandMs);
    return true;
}

int CSILab_USB::Dev_SynchroniseBootloader() {
    log_.Log(kTrace, "Dev_SynchroniseBootloader()", U);
    return SynchroniseHunting({*transport_, clock_, log_}, SilabsSyncProfile(), info_);
}

int CSILab_USB::Dev_UpdateAVR(const std::string& path, ProgressSink* progress) {
    Logf(log_, kTrace, U, "Dev_UpdateAVR(%s)", path.c_str());
    return RunTransfer({*transport_, clock_, log_}, SilabsTransferProfile(),
                       TransferRequest{path, progress, {}}, info_);
}
