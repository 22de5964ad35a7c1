// FTDI devices simulated on a bus folder: each device is a pseudo-terminal named by a file in
// the folder (see links/simbus/bus_folder.h). The library lists the folder, opens the terminals
// (links/simbus/sim_bus.h) and gives them the driver's semantics: a read waits for the count or the
// read time-out, a device that was unplugged fails with an I/O error instead of blocking.

#include <algorithm>
#include <memory>

#include "links/ftdi/ftdi_library.h"
#include "links/simbus/sim_bus.h"
#include "links/simbus/sim_bus_tty.h"
#include "links/simbus/tty_line_speed.h"

namespace {

// The chip's own latency timer until the host sets one.
constexpr std::uint8_t kDefaultLatencyMs = 16;

// An open device: its terminal and the settings the host made, remembered as the chip would
// hold them.
struct SimOpenDevice : SimBusPort {
    std::uint32_t readTimeoutMs = 0;
    std::uint32_t writeTimeoutMs = 0;
    std::uint8_t wordLength = 8, stopBits = 0, parity = 0;
    std::uint16_t flowMode = 0;
    std::uint8_t latencyMs = kDefaultLatencyMs;
    std::uint32_t inSize = 4096, outSize = 4096;
};

class SimulatedFtdiLibrary final : public FtdiLibrary {
  public:
    explicit SimulatedFtdiLibrary(std::string folder) : bus_(std::move(folder)) {}

    FtdiStatus CountDevices(std::uint32_t& count) override {
        count = static_cast<std::uint32_t>(bus_.Devices().size());
        return kFtdiOk;
    }

    FtdiStatus SerialNumberByIndex(std::uint32_t index, std::span<char> buffer) override {
        const auto& devices = bus_.Devices();
        if (index >= devices.size() || buffer.empty()) {
            return kFtdiDeviceNotFound;
        }
        const std::string& serial = devices[index].serial;
        const std::size_t n = std::min(serial.size(), buffer.size() - 1);
        std::copy_n(serial.begin(), n, buffer.begin());
        buffer[n] = '\0';
        return kFtdiOk;
    }

    FtdiStatus AllDescriptions(std::vector<std::string>& descriptions) override {
        descriptions.clear();
        for (const BusDevice& device : bus_.Devices()) {
            descriptions.push_back(device.description);
        }
        return kFtdiOk;
    }

    FtdiStatus OpenByIndex(int index, FtdiHandle& handle) override {
        if (index < 0) {
            return kFtdiDeviceNotFound;
        }
        switch (bus_.Open(static_cast<std::size_t>(index), handle)) {
            case SimBusOpen::kNoSuchDevice:
                return kFtdiDeviceNotFound;
            case SimBusOpen::kNotATerminal:
                return kFtdiPortNotATerminal;
            case SimBusOpen::kCannotOpen:
                return kFtdiDeviceNotOpened;
            case SimBusOpen::kOpened:
                break;
        }
        return kFtdiOk;
    }

    FtdiStatus Close(FtdiHandle handle) override {
        return bus_.Close(handle) ? kFtdiOk : kFtdiInvalidHandle;
    }

    FtdiStatus Read(FtdiHandle handle, std::span<std::uint8_t> buffer,
                    std::uint32_t& got) override {
        got = 0;
        return bus_.OnPlugged(handle, kStatuses, [&](SimOpenDevice& d) {
            return ReadSimBusTty(d.fd.Get(), buffer, d.readTimeoutMs, got);
        });
    }

    FtdiStatus ReadWaiting(FtdiHandle handle, std::span<std::uint8_t> buffer,
                           std::uint32_t& got) override {
        got = 0;
        return bus_.OnPlugged(handle, kStatuses, [&](SimOpenDevice& d) {
            return ReadSimBusTtyWaiting(d.fd.Get(), buffer, got);
        });
    }

    FtdiStatus Write(FtdiHandle handle, std::span<const std::uint8_t> bytes,
                     std::uint32_t& written) override {
        written = 0;
        return bus_.OnPlugged(handle, kStatuses, [&](SimOpenDevice& d) {
            return WriteSimBusTty(d.fd.Get(), bytes, written);
        });
    }

    FtdiStatus SetBaudRate(FtdiHandle handle, std::uint32_t baud) override {
        if (baud == 0 && bus_.Find(handle) != nullptr) {
            return kFtdiInvalidParameter;
        }
        return bus_.OnOpen(handle, kStatuses,
                           [&](SimOpenDevice& d) { return SetTtyLineSpeed(d.fd.Get(), baud); });
    }

    FtdiStatus SetDataCharacteristics(FtdiHandle handle, std::uint8_t wordLength,
                                      std::uint8_t stopBits, std::uint8_t parity) override {
        if ((wordLength != 7 && wordLength != 8) || stopBits > 2 || parity > 4) {
            return kFtdiInvalidParameter;
        }
        return Remember(handle, [&](SimOpenDevice& d) {
            d.wordLength = wordLength;
            d.stopBits = stopBits;
            d.parity = parity;
        });
    }

    FtdiStatus SetFlowControl(FtdiHandle handle, std::uint16_t mode, std::uint8_t,
                              std::uint8_t) override {
        return Remember(handle, [&](SimOpenDevice& d) { d.flowMode = mode; });
    }

    FtdiStatus SetUsbParameters(FtdiHandle handle, std::uint32_t inSize,
                                std::uint32_t outSize) override {
        return Remember(handle, [&](SimOpenDevice& d) {
            d.inSize = inSize;
            d.outSize = outSize;
        });
    }

    FtdiStatus SetTimeouts(FtdiHandle handle, std::uint32_t readMs,
                           std::uint32_t writeMs) override {
        return Remember(handle, [&](SimOpenDevice& d) {
            d.readTimeoutMs = readMs;
            d.writeTimeoutMs = writeMs;
        });
    }

    FtdiStatus SetLatencyTimer(FtdiHandle handle, std::uint8_t ms) override {
        return Remember(handle, [&](SimOpenDevice& d) { d.latencyMs = ms; });
    }

    FtdiStatus SetChars(FtdiHandle handle, std::uint8_t, std::uint8_t, std::uint8_t,
                        std::uint8_t) override {
        return Remember(handle, [](SimOpenDevice&) {});
    }

    FtdiStatus Purge(FtdiHandle handle, std::uint32_t mask) override {
        return bus_.OnOpen(handle, kStatuses, [&](SimOpenDevice& d) {
            return FlushSimBusTty(d.fd.Get(), (mask & kFtdiPurgeRx) != 0,
                                  (mask & kFtdiPurgeTx) != 0);
        });
    }

  private:
    static constexpr SimBusStatuses<FtdiStatus> kStatuses{kFtdiOk, kFtdiInvalidHandle,
                                                          kFtdiIoError};

    template <typename F>
    FtdiStatus Remember(FtdiHandle handle, F set) {
        return bus_.OnOpen(handle, kStatuses, [&](SimOpenDevice& d) {
            set(d);
            return true;
        });
    }

    SimBus<SimOpenDevice> bus_;
};

}  // namespace

std::unique_ptr<FtdiLibrary> MakeSimulatedFtdiLibrary(const std::string& busFolder) {
    return std::make_unique<SimulatedFtdiLibrary>(busFolder);
}
