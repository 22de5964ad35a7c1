// USBXpress devices simulated on a bus folder (see links/simbus/bus_folder.h): each device is a
// pseudo-terminal named by a file in the folder, opened as links/simbus/sim_bus.h does. The
// library gives the terminals the driver's semantics: a read waits for the count or the
// library-wide read time-out, with nothing it times out, and a device that was unplugged fails
// instead of blocking.

#include <algorithm>
#include <memory>

#include "links/simbus/sim_bus.h"
#include "links/simbus/sim_bus_tty.h"
#include "links/simbus/tty_line_speed.h"
#include "links/usbxpress/usbxpress_library.h"

namespace {

// The library-wide read time-out until the host sets one: finite, so no read hangs.
constexpr std::uint32_t kDefaultReadTimeoutMs = 1000;

// An open device: its terminal and the line settings the host made, remembered as the chip
// would hold them.
struct SimOpenDevice : SimBusPort {
    std::uint16_t lineControl = 0x0800;  // 8 data bits, no parity, one stop bit
    std::uint8_t cts = 0, rts = 0, dtr = 0, dsr = 0, dcd = 0;
    bool xonXoff = false;
};

class SimulatedUsbXpressLibrary final : public UsbXpressLibrary {
  public:
    explicit SimulatedUsbXpressLibrary(std::string folder) : bus_(std::move(folder)) {}

    SiStatus GetNumDevices(std::uint32_t& count) override {
        count = static_cast<std::uint32_t>(bus_.Devices().size());
        return kSiSuccess;
    }

    SiStatus GetProductString(std::uint32_t device, std::span<char> buffer,
                              std::uint32_t selector) override {
        const auto& devices = bus_.Devices();
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
        // A device that cannot be opened is as good as not found to this library.
        return bus_.Open(device, handle) == SimBusOpen::kOpened ? kSiSuccess : kSiDeviceNotFound;
    }

    SiStatus Close(SiHandle handle) override {
        return bus_.Close(handle) ? kSiSuccess : kSiInvalidHandle;
    }

    SiStatus Read(SiHandle handle, std::span<std::uint8_t> buffer, std::uint32_t& got) override {
        got = 0;
        const SiStatus status = bus_.OnPlugged(handle, kStatuses, [&](SimOpenDevice& d) {
            return ReadSimBusTty(d.fd.Get(), buffer, readTimeoutMs_, got);
        });
        return status == kSiSuccess && got == 0 && !buffer.empty() ? kSiReadTimedOut : status;
    }

    SiStatus ReadWaiting(SiHandle handle, std::span<std::uint8_t> buffer,
                         std::uint32_t& got) override {
        got = 0;
        return bus_.OnPlugged(handle, kStatuses, [&](SimOpenDevice& d) {
            return ReadSimBusTtyWaiting(d.fd.Get(), buffer, got);
        });
    }

    SiStatus Write(SiHandle handle, std::span<const std::uint8_t> bytes,
                   std::uint32_t& written) override {
        written = 0;
        return bus_.OnPlugged(handle, kStatuses, [&](SimOpenDevice& d) {
            return WriteSimBusTty(d.fd.Get(), bytes, written);
        });
    }

    SiStatus FlushBuffers(SiHandle handle, std::uint8_t transmit, std::uint8_t receive) override {
        return bus_.OnOpen(handle, kStatuses, [&](SimOpenDevice& d) {
            return FlushSimBusTty(d.fd.Get(), receive != 0, transmit != 0);
        });
    }

    // A terminal takes every byte at once, so the write time-out never comes into play.
    SiStatus SetTimeouts(std::uint32_t readMs, std::uint32_t) override {
        readTimeoutMs_ = readMs;
        return kSiSuccess;
    }

    SiStatus SetBaudRate(SiHandle handle, std::uint32_t baud) override {
        if (baud == 0 && bus_.Find(handle) != nullptr) {
            return kSiInvalidParameter;
        }
        return bus_.OnOpen(handle, kStatuses,
                           [&](SimOpenDevice& d) { return SetTtyLineSpeed(d.fd.Get(), baud); });
    }

    SiStatus SetLineControl(SiHandle handle, std::uint16_t lineControl) override {
        return bus_.OnOpen(handle, kStatuses, [&](SimOpenDevice& d) {
            d.lineControl = lineControl;
            return true;
        });
    }

    SiStatus SetFlowControl(SiHandle handle, std::uint8_t cts, std::uint8_t rts, std::uint8_t dtr,
                            std::uint8_t dsr, std::uint8_t dcd, bool xonXoff) override {
        return bus_.OnOpen(handle, kStatuses, [&](SimOpenDevice& d) {
            d.cts = cts;
            d.rts = rts;
            d.dtr = dtr;
            d.dsr = dsr;
            d.dcd = dcd;
            d.xonXoff = xonXoff;
            return true;
        });
    }

  private:
    static constexpr SimBusStatuses<SiStatus> kStatuses{kSiSuccess, kSiInvalidHandle,
                                                        kSiDeviceIoFailed};

    SimBus<SimOpenDevice> bus_;
    // Library-wide, as the vendor's library keeps it.
    std::uint32_t readTimeoutMs_ = kDefaultReadTimeoutMs;
};

}  // namespace

std::unique_ptr<UsbXpressLibrary> MakeSimulatedUsbXpressLibrary(const std::string& busFolder) {
    return std::make_unique<SimulatedUsbXpressLibrary>(busFolder);
}
