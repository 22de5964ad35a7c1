// A device that is not the one expected gets no frame on any link (UDP on 127.0.104.x).
#include <gtest/gtest.h>

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

TEST(ExpectedDeviceTest, OnEveryLinkAnotherDeviceGetsNoFrame) {
    TempDir dir;
    const std::string bus = dir.Path().string();
    ::setenv("FLASHWRIGHT_FTDI_BUS", bus.c_str(), 1);
    ::setenv("FLASHWRIGHT_USBXPRESS_BUS", bus.c_str(), 1);
    const FrontEnd frontEnd{.path = bus + "/app.enc",
                            .expectDevice = ExpectDevicePredicate({1, BootloaderVersion{1, 5}})};
    std::string error;
    ASSERT_TRUE(WriteUpdateFile(frontEnd.path, PseudoRandomBytes(600, 5), 276, error)) << error;
    const std::tuple<int, int, int, std::string> devices[] = {
        // id, version 1.xx, code, verdict
        {2, 5, kExitWrongDevice, "wrong device: device id 2, the job expects 1"},
        {1, 3, kExitWrongDevice,
         "wrong device: bootloader version 1.03, the job expects 1.05 or later"},
        {1, 0x10, kExitSuccess, "Programming successful"}};
    NullLog log;
    SystemClock clock;
    UpdateObserver observer;
    for (const auto& [id, versionLow, code, verdict] : devices) {
        SimOptions device;
        std::tie(device.deviceId, device.versionLow) = std::tuple(id, versionLow);
        FtdiSimOptions ftdi;
        UsbXpressSimOptions usbx;
        ftdi.bootloader = usbx.bootloader = device;
        const std::string address = "127.0.104." + std::to_string(versionLow);
        UdpSimServer udpSim(device, address);
        PtySimServer comSim(device);
        FtdiSimServer ftdiSim(bus, ftdi);
        UsbXpressSimServer usbxSim(bus, usbx);
        ASSERT_TRUE(udpSim.Start(error) && comSim.Start(error)) << error;
        ASSERT_TRUE(ftdiSim.Start(error) && usbxSim.Start(error)) << error;
        CCommunication ftdiLink(log, clock);
        CSILab_USB usbxLink(log, clock);
        int link = 0;  // UDP, COM, FTDI, USBX
        for (const UpdateOutcome& outcome :
             {UpdateOverNetwork(*MakeNetworkLink(log, clock), address, nullptr, frontEnd, observer,
                                log, clock),
              UpdateOverSerial(*MakeSerialLink(log, clock), comSim.Path(), 115200, nullptr,
                               frontEnd, observer, log, clock),
              UpdateFtdiBySerial(ftdiLink, kSimSerial, {}, frontEnd, observer, log, clock),
              UpdateUsbXpressBySerial(usbxLink, kSimSerial, {}, frontEnd, observer, log, clock)}) {
            EXPECT_EQ(std::tie(outcome.exitCode, outcome.verdict), std::tie(code, verdict))
                << link++;
        }
        const auto frames = [](const BootloaderSim& sim) { return sim.Frames().size(); };
        EXPECT_EQ(udpSim.Inspect(frames) + comSim.Inspect(frames) + ftdiSim.Inspect(frames) +
                      usbxSim.Inspect(frames),
                  code == 0 ? 4 * 3u : 0u)
            << verdict;
    }
}
