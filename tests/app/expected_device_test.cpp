// The expected device on every link, in-process against the simulated device: one that is not
// expected gets no frame and ends with its own code and text.

#include <gtest/gtest.h>

#include <cstdlib>

#include "links/ftdi/communication_ftdi.h"
#include "links/usbxpress/communication_silabs.h"
#include "links/usbxpress/usbxpress_vendor.h"
#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"
#include "sim/pty_transport.h"
#include "sim/udp_transport.h"
#include "sim/usbxpress_transport.h"
#include "support/temp_dir.h"
#include "update/exit_codes.h"
#include "update/expected_device.h"
#include "update/ftdi_update.h"
#include "update/network_update.h"
#include "update/serial_update.h"
#include "update/usbxpress_update.h"

namespace {

template <typename Server>
std::size_t Frames(const Server& server) {
    return server.Inspect([](const BootloaderSim& sim) { return sim.Frames().size(); });
}

// Updates the simulated `device` over `link` ("UDP", "COM", "FTDI", "USBX"); the frames it got.
UpdateOutcome UpdateOn(const std::string& link, const SimOptions& device, const FrontEnd& frontEnd,
                       const std::string& address, std::size_t& frames) {
    NullLog log;
    SystemClock clock;
    UpdateObserver observer;
    std::string error;
    if (link == "UDP" || link == "COM") {
        UdpSimServer udp(device, address);
        PtySimServer pty(device);
        EXPECT_TRUE(link == "UDP" ? udp.Start(error) : pty.Start(error)) << error;
        const UpdateOutcome outcome =
            link == "UDP" ? UpdateOverNetwork(*MakeNetworkLink(log, clock), address, nullptr,
                                              frontEnd, observer, log, clock)
                          : UpdateOverSerial(*MakeSerialLink(log, clock), pty.Path(), 115200,
                                             nullptr, frontEnd, observer, log, clock);
        frames = link == "UDP" ? Frames(udp) : Frames(pty);
        return outcome;
    }
    FtdiSimOptions ftdiDevice;
    UsbXpressSimOptions usbxDevice;
    ftdiDevice.bootloader = usbxDevice.bootloader = device;
    UpdateOutcome outcome;
    if (link == "FTDI") {
        FtdiSimServer server(std::getenv("FLASHWRIGHT_FTDI_BUS"), ftdiDevice);
        EXPECT_TRUE(server.Start(error)) << error;
        CCommunication ftdi(log, clock, MakeFtdiLibrary(), CCommunication::kEveryDevice);
        outcome = UpdateFtdiBySerial(ftdi, kSimSerial, {}, frontEnd, observer, log, clock);
        frames = Frames(server);
    } else {
        UsbXpressSimServer server(std::getenv("FLASHWRIGHT_USBXPRESS_BUS"), usbxDevice);
        EXPECT_TRUE(server.Start(error)) << error;
        CSILab_USB usbx(log, clock, MakeUsbXpressLibrary().library);
        outcome = UpdateUsbXpressBySerial(usbx, kSimSerial, {}, frontEnd, observer, log, clock);
        frames = Frames(server);
    }
    return outcome;
}

}  // namespace

TEST(ExpectedDeviceTest, OnEveryLinkAnotherDeviceGetsNoFrame) {
    TempDir dir;
    ::setenv("FLASHWRIGHT_FTDI_BUS", dir.Path().c_str(), 1);
    ::setenv("FLASHWRIGHT_USBXPRESS_BUS", dir.Path().c_str(), 1);
    FrontEnd frontEnd{.path = (dir.Path() / "app.enc").string()};
    std::string error;
    ASSERT_TRUE(WriteUpdateFile(frontEnd.path, PseudoRandomBytes(600, 5), 276, error)) << error;
    frontEnd.expectDevice = ExpectDevicePredicate({1, BootloaderVersion{1, 0x05}});
    const struct {
        std::uint8_t deviceId, high, low;
        int exitCode;
        const char* verdict;
    } devices[] = {
        {2, 1, 0x05, kExitWrongDevice, "wrong device: device id 2, the job expects 1"},
        {1, 1, 0x03, kExitWrongDevice,
         "wrong device: bootloader version 1.03, the job expects 1.05 or later"},
        {1, 1, 0x10, kExitSuccess, "Programming successful"},
    };
    int address = 1;
    for (const char* link : {"UDP", "COM", "FTDI", "USBX"}) {
        for (const auto& d : devices) {
            SimOptions device;
            std::tie(device.deviceId, device.versionHigh, device.versionLow) =
                std::tuple(d.deviceId, d.high, d.low);
            std::size_t frames = 0;
            const UpdateOutcome outcome =
                UpdateOn(link, device, frontEnd, "127.0.104." + std::to_string(address++), frames);
            EXPECT_EQ(std::tie(outcome.exitCode, outcome.verdict),
                      std::tuple(d.exitCode, std::string(d.verdict)))
                << link;
            EXPECT_EQ(frames, d.exitCode == 0 ? 3u : 0u) << link << " " << d.verdict;
        }
    }
}
