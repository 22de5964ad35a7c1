// The real flashwright program updating simulated USBXpress devices on a bus folder, a
// Pellix-USB device included, and listing them beside FTDI devices.

#include <gtest/gtest.h>

#include <memory>

#include "e2e_fixture.h"
#include "engine/update_file.h"
#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"
#include "sim/usbxpress_transport.h"
#include "update/exit_codes.h"

namespace {

UsbXpressSimOptions Device(const char* description, const char* serial, bool pellix) {
    UsbXpressSimOptions o;
    o.description = description;
    o.serial = serial;
    o.startInApplication = pellix;
    return o;
}

class UsbXpressUpdateTest : public ::testing::Test {
  protected:
    UsbXpressSimServer& Plug(const UsbXpressSimOptions& options) {
        device_ = std::make_unique<UsbXpressSimServer>(usbBus_.Path().string(), options);
        std::string error;
        EXPECT_TRUE(device_->Start(error)) << error;
        return *device_;
    }
    ChildResult Flashwright(const std::vector<std::string>& args) {
        ChildOptions options;
        options.environment = {{"FLASHWRIGHT_USBXPRESS_BUS", usbBus_.Path().string()},
                               {"FLASHWRIGHT_FTDI_BUS", ftdiBus_.Path().string()}};
        return RunChild(FlashwrightProgram(), args, options);
    }

    TempDir usbBus_;
    TempDir ftdiBus_;
    TempDir files_;
    std::unique_ptr<UsbXpressSimServer> device_;
};

}  // namespace

TEST_F(UsbXpressUpdateTest, DevicesAreUpdatedAPellixDeviceAfterItsCommand) {
    struct Case {
        const char* what;
        UsbXpressSimOptions device;
        const char* serial;
        int exitCode;
        std::size_t goodFrames;  // XML command frames that checked out
    };
    const std::vector<Case> cases{
        {"device in its bootloader", Device("Other", "SN0001", false), "SN0001", 0, 0},
        {"Pellix-USB device", Device("Pellix-USB", "PX0001", true), "PX0001", 0, 1},
        {"application that is sent no command", Device("Pellix USB", "PX0002", true), "PX0002",
         kExitNoBootloader, 0},
        {"no such serial number", Device("Other", "SN0001", false), "NOPE", kExitOpenFailed, 0},
    };
    const std::string file = (files_.Path() / "app.enc").string();
    std::string error;
    ASSERT_TRUE(WriteUpdateFile(file, PseudoRandomBytes(1500, 9), 276, error)) << error;
    for (const Case& c : cases) {
        device_.reset();
        UsbXpressSimServer& device = Plug(c.device);
        const ChildResult r = Flashwright({"USBX", c.serial, file, "--wait", "1"});
        EXPECT_EQ(r.status, ExitStatus(c.exitCode)) << c.what << "\n" << r.err;
        const Bytes accepted =
            device.Inspect([](const BootloaderSim& s) { return s.AcceptedImage(); });
        EXPECT_EQ(accepted == ReadUpdateFile(file).image.bytes, c.exitCode == 0) << c.what;
        std::size_t good = 0;
        for (const PellixFrame& f : device.PellixFrames()) {
            good += f.ok ? 1 : 0;
        }
        EXPECT_EQ(good, c.goodFrames) << c.what;
    }
}

TEST_F(UsbXpressUpdateTest, ListingShowsFtdiAndUsbXpressDevicesSideBySide) {
    Plug(Device("Pellix-USB", "PX0001", true));
    FtdiSimOptions ftdi;
    ftdi.description = "FT232R USB UART";
    ftdi.serial = "A10K3BQZ";
    FtdiSimServer adapter(ftdiBus_.Path().string(), ftdi);
    std::string error;
    ASSERT_TRUE(adapter.Start(error)) << error;
    const ChildResult r = Flashwright({"--list-devices"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "FTDI  0  FT232R USB UART  A10K3BQZ\n"
              "USBX  0  Pellix-USB  PX0001\n");
}
