// The FTDI command line in-process over devices in virtual time: finding the device, the
// Corvane switch and its code, the synchronisation window and the exit codes.
#include <gtest/gtest.h>

#include <QSettings>

#include <cstdlib>
#include <filesystem>

#include "../links/fake_ftdi_bus.h"
#include "cli/ftdi_command_line.h"
#include "log/text_format.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"
#include "update/corvane_code.h"
#include "update/exit_codes.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Every other call of the observer does nothing.
class SilentObserver final : public UpdateObserver {
  public:
    void Finished(std::string_view text, int) override { verdict = text; }
    std::string verdict;
};

// A Corvane device: in its application it answers 0xAA with `answer`; once switched (or
// always, with `switches` false never) it is a bootloader.
FakeFtdiBus::Responder CorvaneDevice(Bytes answer, bool switches) {
    auto inBootloader = std::make_shared<bool>(false);
    return [=](std::span<const std::uint8_t> w, std::uint32_t baud) -> Bytes {
        if (*inBootloader) {
            return Bootloader(w, baud);
        }
        if (baud == 1000000 && w.size() == 8 && w[2] == 0xAA) {
            *inBootloader = switches && w[3] == 0x12 && w[6] == 0x78;
            return answer;
        }
        return {};
    };
}

struct Case {
    const char* what;
    const char* code;  // FLASHWRIGHT_CORVANE_CODE; null: none configured
    FakeFtdiBus::Device device;
    std::string serial;
    int exitCode;
    int attachedBefore = 0;           // plain devices listed ahead of it
    bool codeInSettingsFile = false;  // the code in the settings file instead
};

}  // namespace

TEST(FtdiCommandLine, FindsTheDeviceSwitchesCorvaneAndEndsWithItsExitCode) {
    TempDir dir;
    ::setenv("XDG_CONFIG_HOME", dir.Path().c_str(), 1);  // no settings file of the user's
    // Qt reads the variable once per process: an earlier test in this one may have done so.
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, dir.Path().c_str());
    std::filesystem::create_directory(dir.Path() / "flashwright");
    const std::string file = dir.Write("u.enc", "000311223300014400024455");
    const Bytes switched{0xBF, 0x00, 0x01, 0x00, 0xFF};
    const std::vector<Case> cases{
        {"plain device", nullptr, {"FT232R USB UART", "A1", Bootloader}, "A1", 0},
        {"unknown serial number",
         nullptr,
         {"FT232R USB UART", "A1", Bootloader},
         "B2",
         kExitOpenFailed},
        {"Corvane switched",
         "12345678",
         {"Corvane", "CV1", CorvaneDevice(switched, true)},
         "CV1",
         0},
        {"Corvane without a code",
         nullptr,
         {"Corvane", "CV1", CorvaneDevice(switched, true)},
         "CV1",
         kExitNoSwitch},
        {"Corvane switched by the code in the settings file",
         "12345678",
         {"Corvane", "CV1", CorvaneDevice(switched, true)},
         "CV1",
         0,
         0,
         true},
        {"Corvane refusing the code",
         "12345678",
         {"Corvane", "CV1", CorvaneDevice({0xBF, 0x00, 0x02, 0x00, 0xFF}, false)},
         "CV1",
         kExitNoSwitch},
        {"no bootloader", nullptr, {"FT232R USB UART", "A1", nullptr}, "A1", kExitNoBootloader},
        {"ninth device", nullptr, {"FT232R USB UART", "Z9", Bootloader}, "Z9", 0, 8},
    };
    for (const Case& c : cases) {
        const std::string settings =
            c.codeInSettingsFile ? StrPrintf("[corvane]\nenterBootloaderCode=%s\n", c.code) : "";
        dir.Write("flashwright/flashwright.conf", settings);  // where the README says
        if (c.code != nullptr && !c.codeInSettingsFile) {
            ::setenv(kCorvaneCodeVariable, c.code, 1);
        } else {
            ::unsetenv(kCorvaneCodeVariable);
        }
        VirtualClock clock;
        auto bus = std::make_unique<FakeFtdiBus>(clock);
        for (int i = 0; i < c.attachedBefore; ++i) {
            bus->devices.push_back({"FT232R USB UART", "X" + std::to_string(i), nullptr});
        }
        bus->devices.push_back(c.device);
        RecordingLog log;
        SilentObserver observer;
        const int code =
            RunFtdiUpdate({c.serial, "", file}, log, clock, observer, nullptr, std::move(bus));
        EXPECT_EQ(code, c.exitCode) << c.what << ": " << observer.verdict;
        EXPECT_EQ(observer.verdict == "Programming successful", c.exitCode == 0) << c.what;
    }
    ::unsetenv(kCorvaneCodeVariable);
    // An attempt takes 2.5 s, so a 3 s window ends after two: the message says so.
    VirtualClock clock;
    auto bus = std::make_unique<FakeFtdiBus>(clock);
    bus->devices = {{"FT232R USB UART", "A1", nullptr}};
    RecordingLog log;
    SilentObserver observer;
    EXPECT_EQ(RunFtdiUpdate({"A1", "", file, 3000}, log, clock, observer, nullptr, std::move(bus)),
              kExitNoBootloader);
    EXPECT_EQ(observer.verdict, "Error: no bootloader answered within 5 s!");
}

TEST(FtdiCommandLine, CorvaneCodeIsEightHexadecimalDigits) {
    EXPECT_EQ(ParseCorvaneCode("0aB1c2D3"), (CorvaneCode{0x0A, 0xB1, 0xC2, 0xD3}));
    for (const char* wrong : {"0aB1c2D", "0aB1c2D3e", "0aB1c2Dx", ""}) {
        EXPECT_FALSE(ParseCorvaneCode(wrong).has_value()) << wrong;
    }
}
