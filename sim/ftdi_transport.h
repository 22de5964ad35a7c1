#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/bootloader_sim.h"
#include "sim/bus_sim_server.h"
#include "sim/corvane_application.h"

// startInApplication: start in the Corvane application instead of the bootloader.
struct FtdiSimOptions : BusSimSettings {
    FtdiSimOptions() {
        description = "Flashwright simulated device";
        serial = kSimSerial;
    }
    CorvaneOptions application;
};

// One simulated FTDI device on a bus folder (see BusSimServer). Its application is the Corvane
// application, at 1000000 baud; the bootloader is served at 115200 baud, exactly as
// PtySimServer serves it.
class FtdiSimServer final : public BusSimServer {
  public:
    static constexpr std::uint32_t kApplicationBaud = 1'000'000;

    FtdiSimServer(std::string busFolder, FtdiSimOptions options);
    ~FtdiSimServer();

    // The Corvane commands received, in order, over all plug-ins.
    std::vector<CorvaneCommand> CorvaneCommands() const;

  private:
    std::optional<std::uint32_t> ApplicationBaud() const override { return kApplicationBaud; }
    ApplicationOutput OnApplicationBytes(std::span<const std::uint8_t> bytes,
                                         Clock::time_point at) override;
    void ResetApplication() override { application_.Reset(); }

    CorvaneApplication application_;  // under the server's lock
};
