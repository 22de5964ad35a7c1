// The real flashwright program updating simulated FTDI devices on a bus folder: plain and
// Corvane devices, the enter-bootloader code, the replug guidance on a terminal, the listing.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "e2e_fixture.h"
#include "engine/update_file.h"
#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"
#include "update/exit_codes.h"

namespace {

class FtdiUpdateTest : public ::testing::Test {
  protected:
    FtdiSimServer& Plug(FtdiSimOptions options) {
        devices_.push_back(std::make_unique<FtdiSimServer>(bus_.Path().string(), options));
        std::string error;
        EXPECT_TRUE(devices_.back()->Start(error)) << error;
        return *devices_.back();
    }
    static FtdiSimOptions Corvane(CorvaneFault fault = CorvaneFault::kNone) {
        FtdiSimOptions o;
        o.description = "Corvane";
        o.serial = "CV0001";
        o.startInApplication = true;
        o.application.fault = fault;
        return o;
    }
    std::string UpdateFile() {
        const std::string path = (files_.Path() / "app.enc").string();
        std::string error;
        EXPECT_TRUE(WriteUpdateFile(path, PseudoRandomBytes(1500, 5), 276, error)) << error;
        return path;
    }
    // The program with the bus in place of USB and no settings file of the user's.
    ChildResult Flashwright(const std::vector<std::string>& args, const char* code = nullptr,
                            bool terminal = false, std::function<bool()> interruptWhen = {}) {
        ChildOptions options;
        options.interruptWhen = std::move(interruptWhen);
        options.environment = {{"FLASHWRIGHT_FTDI_BUS", bus_.Path().string()},
                               {"XDG_CONFIG_HOME", files_.Path().string()},
                               {"FLASHWRIGHT_CORVANE_CODE", code != nullptr ? code : ""}};
        options.stderrOnTerminal = terminal;
        return RunChild(FlashwrightProgram(), args, options);
    }

    TempDir bus_;
    TempDir files_;
    std::vector<std::unique_ptr<FtdiSimServer>> devices_;
};

const char* const kRightCode = "5AC33CA5";  // the simulated Corvane device's

}  // namespace

TEST_F(FtdiUpdateTest, DevicesAreUpdatedOrRefusedWithTheirExitCodes) {
    struct Case {
        const char* what;
        FtdiSimOptions device;
        const char* code;
        const char* serial;
        int exitCode;
    };
    const std::vector<Case> cases{
        {"plain device", FtdiSimOptions{}, nullptr, "FWSIM001", 0},
        {"Corvane switched by its code", Corvane(), kRightCode, "CV0001", 0},
        {"Corvane without a code", Corvane(), nullptr, "CV0001", kExitNoSwitch},
        {"Corvane with a wrong answer", Corvane(CorvaneFault::kWrong), kRightCode, "CV0001",
         kExitNoSwitch},
        {"no such serial number", FtdiSimOptions{}, nullptr, "NOPE", kExitOpenFailed},
    };
    const std::string file = UpdateFile();
    for (const Case& c : cases) {
        devices_.clear();
        FtdiSimServer& device = Plug(c.device);
        const ChildResult r = Flashwright({"FTDI", c.serial, file}, c.code);
        EXPECT_EQ(r.status, ExitStatus(c.exitCode)) << c.what << "\n" << r.err;
        EXPECT_EQ(r.err, "") << c.what << ": nothing is printed without a terminal";
        const Bytes accepted =
            device.Inspect([](const BootloaderSim& s) { return s.AcceptedImage(); });
        EXPECT_EQ(accepted == ReadUpdateFile(file).image.bytes, c.exitCode == 0) << c.what;
        EXPECT_EQ(device.GarbledBytes(), 0u) << c.what;
    }
}

TEST_F(FtdiUpdateTest, OnATerminalTheReplugGuidanceBringsARefusingDeviceIntoItsBootloader) {
    FtdiSimOptions device = Corvane(CorvaneFault::kRefuse);
    device.unplugAfterMs = 1500;  // the user pulls the cable, then plugs it back in
    device.replugAfterMs = 2500;
    Plug(device);
    const ChildResult r = Flashwright({"FTDI", "CV0001", UpdateFile()}, kRightCode, true);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("Please remove the USB cable from the Corvane"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("Please reconnect the USB cable to the Corvane"), std::string::npos);
    EXPECT_NE(r.err.find("Programming successful"), std::string::npos);
}

// Ctrl-C outside the replug guidance ends the program at once, as on the other links.
TEST_F(FtdiUpdateTest, CtrlCDuringTheTransferEndsTheProgramAtOnce) {
    FtdiSimOptions slow;
    slow.bootloader.replyDelayMs = 500;  // the file's six frames take 3 s
    FtdiSimServer& device = Plug(slow);
    const ChildResult r = Flashwright({"FTDI", "FWSIM001", UpdateFile()}, nullptr, true, [&] {
        return !device.Inspect([](const BootloaderSim& s) { return s.Frames().empty(); });
    });
    ASSERT_TRUE(r.sinceInterrupt.has_value()) << r.err;
    EXPECT_LT(*r.sinceInterrupt, std::chrono::seconds(1)) << r.err;
    EXPECT_EQ(r.status, -1) << "ended by the signal\n" << r.err;
}

// A device's texts reach the terminal escaped: no control sequence, no line of its own making.
TEST_F(FtdiUpdateTest, ListingShowsEveryDeviceWithCorvaneVersionsTheirTextsEscaped) {
    FtdiSimOptions corvane = Corvane();
    corvane.application.software = "FW-SW 1.0\n\xff \u00b5";
    Plug(corvane);
    FtdiSimOptions other;
    other.description = "FT232R \x1b]0;owned\x07USB UART";
    other.serial = "A10K3BQZ";
    Plug(other);
    const ChildResult r = Flashwright({"--list-devices"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "FTDI  0  FT232R \\x1b]0;owned\\x07USB UART  A10K3BQZ\n"
              "FTDI  1  Corvane  CV0001  hardware FW-HW 2  software FW-SW 1.0\\n\\xff \u00b5\n");

    for (int i = 3; i <= 9; ++i) {  // more than the USB I page shows
        FtdiSimOptions more;
        more.serial = "Z" + std::to_string(i);
        Plug(more);
    }
    const ChildResult nine = Flashwright({"--list-devices"});
    EXPECT_NE(nine.out.find("FTDI  8  "), std::string::npos) << nine.out;
    EXPECT_NE(nine.err.find("flashwright: 9 FTDI devices attached: the USB I page shows the first "
                            "8, not the other 1\n"),
              std::string::npos)
        << nine.err;
}
