// Station command lines that cannot serve anything end at once with their status and say why,
// before anything opens; one device is never served by two slots or by two stations.
#include <gtest/gtest.h>

#include <csignal>

#include "e2e_fixture.h"
#include "sim/enc_maker.h"
#include "update/exit_codes.h"

namespace {

struct StationStart {
    StationStart() {
        std::string error;
        EXPECT_TRUE(WriteUpdateFile(file, PseudoRandomBytes(600, 9), 276, error)) << error;
    }
    ChildOptions Options(std::pair<std::string, std::string> extra = {"FLASHWRIGHT_FTDI_BUS", ""}) {
        ChildOptions options;
        options.environment = {{"FLASHWRIGHT_FTDI_BUS", ""}, extra};
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "XDG_STATE_HOME"}) {
            options.environment.emplace_back(name, files.Path().string());
        }
        options.limit = std::chrono::seconds(20);  // a station that keeps running fails its row
        return options;
    }
    TempDir files;
    const std::string file = (files.Path() / "app.enc").string();
};

}  // namespace

TEST(StationStartTest, AStationThatCanServeNothingEndsAtOnceAndSaysWhy) {
    StationStart start;
    UdpSimServer device({}, "127.0.90.2");  // named twice below: never touched
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    const int usage = kExitUsage;
    const int noLink = ExitStatus(kExitOpenFailed);
    const std::pair<std::string, std::string> noUdev{"FLASHWRIGHT_UDEV_CONTROL", "/nonexistent/c"};
    const std::pair<std::string, std::string> noBus{"FLASHWRIGHT_USBXPRESS_BUS", "/nonexistent"};
    const struct {
        std::vector<std::string> options;
        int status;
        std::string message;
        std::pair<std::string, std::string> env = {"FLASHWRIGHT_FTDI_BUS", ""};
    } rows[] = {
        {{"UDP", "--slots", "127.0.90.2,127.0.90.02"}, usage, "same device (127.0.90.2:4107)"},
        {{"UDP", "--slots", "127.0.0.1,127.1,localhost"}, usage, "\"127.0.0.1\" and \"127.1\" are"},
        {{"COM", "--slots", "null,/dev/../dev/null"}, usage, "are the same device"},
        {{"UDP", "--slots", ""}, usage, "--slots: \"\" is no IPv4 address or host name"},
        {{"UDP", "--slots", "300.1.1.1"}, usage, "\"300.1.1.1\" is no IPv4 address"},
        {{"UDP", "--slots", "127.0.90.1 127.0.90.2"}, usage, "is no IPv4 address"},
        {{"UDP", "--slots", "nosuchhost.invalid"}, usage, "\"nosuchhost.invalid\" names no host"},
        {{"FTDI", "--slots", "127.0.90.1"}, usage, "--slots is for --link UDP or COM"},
        {{"USB"}, usage, "--link USB is unknown: use FTDI, USBX, COM or UDP"},
        {{"COM"}, usage, "(--match VID:PID)"},
        {{"FTDI"}, noLink, "over FTDI: udev is not running (no /nonexistent/c)", noUdev},
        {{"USBX"}, noLink, "bus folder /nonexistent (FLASHWRIGHT_USBXPRESS_BUS) is no", noBus},
        {{"UDP", "--slots", "127.0.90.1", "--records", "mysql://db/r"}, 77, "cannot use: give"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"station", start.file, "--link"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const ChildResult result = RunChild(FlashwrightProgram(), args, start.Options(row.env));
        EXPECT_EQ(result.status, row.status) << row.options.back() << ": " << result.err;
        EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    }
    EXPECT_EQ(device.Inspect([](const BootloaderSim& sim) { return sim.SyncRequests(); }), 0u);
}

TEST(StationStartTest, ASecondStationOnAnotherSpellingOfASlotIsRefused) {
    StationStart start;
    UdpSimServer device({}, "127.0.90.3");
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    BackgroundChild first(
        FlashwrightProgram(),
        {"station", start.file, "--link", "UDP", "--slots", "127.0.90.3", "--json"},
        start.Options());
    ASSERT_TRUE(first.WaitForLine("\"event\":\"result\"", std::chrono::seconds(20)));
    // Records of its own: only the slot's lock stands between the two.
    const ChildResult second = RunChild(FlashwrightProgram(),
                                        {"station", start.file, "--link", "UDP", "--slots",
                                         "127.0.90.003", "--records", start.file + ".sqlite"},
                                        start.Options());
    EXPECT_EQ(second.status, kExitUsage);
    EXPECT_NE(second.err.find("another station already serves the slot 127.0.90.003"),
              std::string::npos)
        << second.err;
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(), 0);
}
