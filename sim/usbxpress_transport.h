#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/bootloader_sim.h"
#include "sim/bus_sim_server.h"
#include "sim/pellix_application.h"

// startInApplication: start in the Pellix-USB application instead of the bootloader.
struct UsbXpressSimOptions : BusSimSettings {
    UsbXpressSimOptions() {
        description = "Flashwright simulated USBXpress device";
        serial = kSimSerial;
    }
};

// One simulated USBXpress device on a bus folder (see BusSimServer), for the simulated
// USBXpress library. Its application is the Pellix-USB application, which takes the host's
// frames at any line speed and answers none; the bootloader is served at 115200 baud.
class UsbXpressSimServer final : public BusSimServer {
  public:
    UsbXpressSimServer(std::string busFolder, UsbXpressSimOptions options);
    ~UsbXpressSimServer();

    // The Pellix frames received, in order, over all plug-ins, each with its verdict.
    std::vector<PellixFrame> PellixFrames() const;

  private:
    std::optional<std::uint32_t> ApplicationBaud() const override { return std::nullopt; }
    ApplicationOutput OnApplicationBytes(std::span<const std::uint8_t> bytes,
                                         Clock::time_point at) override;
    void OnApplicationIdle(Clock::time_point now) override { application_.OnIdle(now); }
    void ResetApplication() override { application_.Reset(); }

    PellixApplication application_;  // under the server's lock
};
