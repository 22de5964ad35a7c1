// USBXpress devices simulated on a bus folder, in the format of the simulated FTDI devices
// (see ftdi_bus_folder.h): each device is a pseudo-terminal named by a file in the folder. The
// library gives the terminals the driver's semantics: a read waits for the count or the
// library-wide read time-out, with nothing it times out, and a device that was unplugged fails
// instead of blocking.

#include <unistd.h>

#include <algorithm>
#include <memory>

#include "links/simbus/ftdi_bus_folder.h"
#include "links/simbus/ftdi_handles.h"
#include "links/simbus/sim_bus_listing.h"
#include "links/simbus/sim_bus_tty.h"
#include "links/simbus/tty_line_speed.h"
#include "links/usbxpress/usbxpress_library.h"
#include "log/unique_fd.h"

namespace {

// An open device: its terminal and the line settings the host made, remembered as the chip
// would hold them.
struct SimOpenDevice {
    UniqueFd fd;
    std::string file;                    // the bus file; gone means unplugged
    std::uint16_t lineControl = 0x0800;  // 8 data bits, no parity, one stop bit
    std::uint8_t cts = 0, rts = 0, dtr = 0, dsr = 0, dcd = 0;
    bool xonXoff = false;

    bool Plugged() const { return ::access(file.c_str(), F_OK) == 0; }
};

class SimulatedUsbXpressLibrary final : public UsbXpressLibrary {
  public:
    explicit SimulatedUsbXpressLibrary(std::string folder)
        : folder_(std::move(folder)), listing_(folder_) {}

    SiStatus GetNumDevices(std::uint32_t& count) override {
        count = static_cast<std::uint32_t>(listing_.Devices().size());
        return kSiSuccess;
    }

    SiStatus GetProductString(std::uint32_t device, std::span<char> buffer,
                              std::uint32_t selector) override {
        const auto& devices = listing_.Devices();
        if (device >= devices.size()) {
            return kSiDeviceNotFound;
        }
        if (buffer.empty() ||
            (selector != kSiReturnSerialNumber && selector != kSiReturnDescription)) {
            return kSiInvalidParameter;
        }
        const std::string& text = selector == kSiReturnSerialNumber ? devices[device].serial
                                                                    : devices[device].description;
        const std::size_t n = std::min(text.size(), buffer.size() - 1);
        std::copy_n(text.begin(), n, buffer.begin());
        buffer[n] = '\0';
        return kSiSuccess;
    }

    SiStatus Open(std::uint32_t device, SiHandle& handle) override {
        const auto& devices = listing_.Devices();
        if (device >= devices.size()) {
            return kSiDeviceNotFound;
        }
        auto open = std::make_unique<SimOpenDevice>();
        if (!OpenSimBusTty(devices[device].ttyPath, open->fd)) {
            return kSiDeviceNotFound;
        }
        open->file = FtdiBusFile(folder_, devices[device].serial);
        handle = open_.Add(std::move(open));
        return kSiSuccess;
    }

    SiStatus Close(SiHandle handle) override {
        return open_.Close(handle) == kFtdiOk ? kSiSuccess : kSiInvalidHandle;
    }

    SiStatus Read(SiHandle handle, std::span<std::uint8_t> buffer, std::uint32_t& got) override {
        got = 0;
        SiStatus status = kSiSuccess;
        SimOpenDevice* d = Plugged(handle, status);
        if (d == nullptr) {
            return status;
        }
        if (!ReadSimBusTty(d->fd.Get(), buffer, readTimeoutMs_, got)) {
            return kSiDeviceIoFailed;
        }
        return got == 0 && !buffer.empty() ? kSiReadTimedOut : kSiSuccess;
    }

    SiStatus ReadWaiting(SiHandle handle, std::span<std::uint8_t> buffer,
                         std::uint32_t& got) override {
        got = 0;
        SiStatus status = kSiSuccess;
        SimOpenDevice* d = Plugged(handle, status);
        if (d == nullptr) {
            return status;
        }
        return ReadSimBusTtyWaiting(d->fd.Get(), buffer, got) ? kSiSuccess : kSiDeviceIoFailed;
    }

    SiStatus Write(SiHandle handle, std::span<const std::uint8_t> bytes,
                   std::uint32_t& written) override {
        written = 0;
        SiStatus status = kSiSuccess;
        SimOpenDevice* d = Plugged(handle, status);
        if (d == nullptr) {
            return status;
        }
        return WriteSimBusTty(d->fd.Get(), bytes, written) ? kSiSuccess : kSiDeviceIoFailed;
    }

    SiStatus FlushBuffers(SiHandle handle, std::uint8_t transmit, std::uint8_t receive) override {
        SimOpenDevice* d = open_.Find(handle);
        if (d == nullptr) {
            return kSiInvalidHandle;
        }
        return FlushSimBusTty(d->fd.Get(), receive != 0, transmit != 0) ? kSiSuccess
                                                                        : kSiDeviceIoFailed;
    }

    // A terminal takes every byte at once, so the write time-out never comes into play.
    SiStatus SetTimeouts(std::uint32_t readMs, std::uint32_t) override {
        readTimeoutMs_ = readMs;
        return kSiSuccess;
    }

    SiStatus SetBaudRate(SiHandle handle, std::uint32_t baud) override {
        SimOpenDevice* d = open_.Find(handle);
        if (d == nullptr) {
            return kSiInvalidHandle;
        }
        if (baud == 0) {
            return kSiInvalidParameter;
        }
        return SetTtyLineSpeed(d->fd.Get(), baud) ? kSiSuccess : kSiDeviceIoFailed;
    }

    SiStatus SetLineControl(SiHandle handle, std::uint16_t lineControl) override {
        SimOpenDevice* d = open_.Find(handle);
        if (d == nullptr) {
            return kSiInvalidHandle;
        }
        d->lineControl = lineControl;
        return kSiSuccess;
    }

    SiStatus SetFlowControl(SiHandle handle, std::uint8_t cts, std::uint8_t rts, std::uint8_t dtr,
                            std::uint8_t dsr, std::uint8_t dcd, bool xonXoff) override {
        SimOpenDevice* d = open_.Find(handle);
        if (d == nullptr) {
            return kSiInvalidHandle;
        }
        d->cts = cts;
        d->rts = rts;
        d->dtr = dtr;
        d->dsr = dsr;
        d->dcd = dcd;
        d->xonXoff = xonXoff;
        return kSiSuccess;
    }

  private:
    // The open device, when it is still on the bus; else null with the status to give.
    SimOpenDevice* Plugged(SiHandle handle, SiStatus& status) {
        SimOpenDevice* d = open_.Find(handle);
        if (d == nullptr) {
            status = kSiInvalidHandle;
        } else if (!d->Plugged()) {
            status = kSiDeviceIoFailed;
            d = nullptr;
        }
        return d;
    }

    std::string folder_;
    SimBusListing listing_;
    FtdiHandles<SimOpenDevice> open_;
    // Library-wide, as the vendor's library keeps it; a finite default so no read hangs.
    std::uint32_t readTimeoutMs_ = 1000;
};

}  // namespace

std::unique_ptr<UsbXpressLibrary> MakeSimulatedUsbXpressLibrary(const std::string& busFolder) {
    return std::make_unique<SimulatedUsbXpressLibrary>(busFolder);
}
