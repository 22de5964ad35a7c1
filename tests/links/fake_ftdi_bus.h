#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "links/ftdi/ftdi_library.h"
#include "support/virtual_clock.h"

// FTDI devices in virtual time: each answers what the host writes through a function of the
// bytes and the line speed; a read that finds fewer bytes than asked lets the read time-out
// pass on the clock. Library calls are recorded as text ("SetBaudRate(115200)").
class FakeFtdiBus final : public FtdiLibrary {
  public:
    using Responder =
        std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t>, std::uint32_t baud)>;
    struct Device {
        std::string description;
        std::string serial;
        Responder respond;
        bool present = true;
    };

    explicit FakeFtdiBus(VirtualClock& clock) : clock_(clock) {}

    std::vector<Device> devices;
    std::vector<std::string> calls;
    std::set<std::string> fail;  // calls (by name) that report a failure
    // Runs at every listing: lets a test plug and unplug devices between looks.
    std::function<void(int listing)> onListing;
    // Everything written, per device index, in order.
    std::map<int, std::vector<std::vector<std::uint8_t>>> written;

    FtdiStatus CountDevices(std::uint32_t& count) override;
    FtdiStatus SerialNumberByIndex(std::uint32_t index, std::span<char> buffer) override;
    FtdiStatus AllDescriptions(std::vector<std::string>& descriptions) override;
    FtdiStatus OpenByIndex(int index, FtdiHandle& handle) override;
    FtdiStatus Close(FtdiHandle handle) override;
    FtdiStatus Read(FtdiHandle handle, std::span<std::uint8_t> buffer, std::uint32_t& got) override;
    FtdiStatus ReadWaiting(FtdiHandle handle, std::span<std::uint8_t> buffer,
                           std::uint32_t& got) override;
    FtdiStatus Write(FtdiHandle handle, std::span<const std::uint8_t> bytes,
                     std::uint32_t& written) override;
    FtdiStatus SetBaudRate(FtdiHandle handle, std::uint32_t baud) override;
    FtdiStatus SetDataCharacteristics(FtdiHandle, std::uint8_t, std::uint8_t,
                                      std::uint8_t) override;
    FtdiStatus SetFlowControl(FtdiHandle, std::uint16_t, std::uint8_t, std::uint8_t) override;
    FtdiStatus SetUsbParameters(FtdiHandle, std::uint32_t, std::uint32_t) override;
    FtdiStatus SetTimeouts(FtdiHandle, std::uint32_t readMs, std::uint32_t writeMs) override;
    FtdiStatus SetLatencyTimer(FtdiHandle, std::uint8_t ms) override;
    FtdiStatus SetChars(FtdiHandle, std::uint8_t, std::uint8_t, std::uint8_t,
                        std::uint8_t) override;
    FtdiStatus Purge(FtdiHandle, std::uint32_t mask) override;

  private:
    std::vector<int> Present() const;  // indexes into `devices` of those plugged in
    FtdiStatus Record(const std::string& call);

    VirtualClock& clock_;
    int listings_ = 0;
    int open_ = -1;  // the device open, by index into `devices`
    std::uint32_t baud_ = 0;
    std::uint32_t readTimeoutMs_ = 0;
    std::deque<std::uint8_t> incoming_;
};

// A bootloader that answers the synchronisation request and acknowledges every frame.
std::vector<std::uint8_t> Bootloader(std::span<const std::uint8_t> written, std::uint32_t baud);
