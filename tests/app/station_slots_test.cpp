// Station command lines that cannot serve anything end at once with their status and say why,
// before anything opens; one device is never served by two slots or by two stations.
#include <gtest/gtest.h>

#include <csignal>

#include "e2e_fixture.h"
#include "sim/enc_maker.h"
#include "update/exit_codes.h"

namespace {

using Env = std::vector<std::pair<std::string, std::string>>;

ChildOptions StationOptions(const TempDir& files, const Env& extra = {}) {
    ChildOptions options;
    options.environment = {{"FLASHWRIGHT_FTDI_BUS", ""},
                           {"XDG_CONFIG_HOME", files.Path().string()},
                           {"XDG_RUNTIME_DIR", files.Path().string()},
                           {"XDG_STATE_HOME", files.Path().string()}};
    options.environment.insert(options.environment.end(), extra.begin(), extra.end());
    options.limit = std::chrono::seconds(20);  // a station that keeps running fails its row
    return options;
}

std::string UpdateFile(const TempDir& files) {
    const std::string path = (files.Path() / "app.enc").string();
    std::string error;
    EXPECT_TRUE(WriteUpdateFile(path, PseudoRandomBytes(600, 9), 276, error)) << error;
    return path;
}

}  // namespace

TEST(StationStartTest, AStationThatCanServeNothingEndsAtOnceAndSaysWhy) {
    TempDir files;
    const std::string file = UpdateFile(files);
    UdpSimServer device({}, "127.0.90.2");  // named twice below: never touched
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    const int usage = kExitUsage;
    const int noLink = ExitStatus(kExitOpenFailed);
    const struct {
        std::vector<std::string> options;
        Env env;
        int status;
        std::string message;
    } rows[] = {
        {{"UDP", "--slots", "127.0.90.2,127.0.90.02"},
         {},
         usage,
         "\"127.0.90.2\" and \"127.0.90.02\" are the same device (127.0.90.2:4107)"},
        {{"UDP", "--slots", "127.0.0.1,127.1,localhost"},
         {},
         usage,
         "\"127.0.0.1\" and \"127.1\" are the same device"},
        {{"COM", "--slots", "null,/dev/../dev/null"}, {}, usage, "are the same device"},
        {{"UDP", "--slots", ""}, {}, usage, "--slots: \"\" is no IPv4 address or host name"},
        {{"UDP", "--slots", "300.1.1.1"}, {}, usage, "\"300.1.1.1\" is no IPv4 address"},
        {{"UDP", "--slots", "127.0.90.1 127.0.90.2"}, {}, usage, "is no IPv4 address"},
        {{"UDP", "--slots", "nosuchhost.invalid"},
         {},
         usage,
         "\"nosuchhost.invalid\" names no host"},
        {{"FTDI", "--slots", "127.0.90.1"}, {}, usage, "--slots is for --link UDP or COM"},
        {{"USBX", "--slots", "/dev/ttyUSB0"}, {}, usage, "--slots is for --link UDP or COM"},
        {{"USB"}, {}, usage, "--link USB is unknown: use FTDI, USBX, COM or UDP"},
        {{"COM"}, {}, usage, "(--match VID:PID)"},
        {{"FTDI"},
         {{"FLASHWRIGHT_UDEV_CONTROL", "/nonexistent/control"}},
         noLink,
         "no hot-plug over FTDI: udev is not running (no /nonexistent/control)"},
        {{"FTDI"},
         {{"FLASHWRIGHT_FTDI_BUS", "/nonexistent"}},
         noLink,
         "the bus folder /nonexistent (FLASHWRIGHT_FTDI_BUS) is no folder"},
        {{"USBX"},
         {{"FLASHWRIGHT_USBXPRESS_BUS", "/nonexistent"}},
         noLink,
         "(FLASHWRIGHT_USBXPRESS_BUS) is no folder"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args{"station", file, "--link"};
        args.insert(args.end(), row.options.begin(), row.options.end());
        const ChildResult result =
            RunChild(FlashwrightProgram(), args, StationOptions(files, row.env));
        EXPECT_EQ(result.status, row.status) << row.options.back() << ": " << result.err;
        EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
    }
    EXPECT_EQ(device.Inspect([](const BootloaderSim& sim) { return sim.SyncRequests(); }), 0u);
}

TEST(StationStartTest, ASecondStationOnAnotherSpellingOfASlotIsRefused) {
    TempDir files;
    const std::string file = UpdateFile(files);
    UdpSimServer device({}, "127.0.90.3");
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    BackgroundChild first(FlashwrightProgram(),
                          {"station", file, "--link", "UDP", "--slots", "127.0.90.3", "--json"},
                          StationOptions(files));
    ASSERT_TRUE(first.WaitForLine("\"event\":\"result\"", std::chrono::seconds(20)));
    // Records of its own: only the slot's lock stands between the two.
    const ChildResult second =
        RunChild(FlashwrightProgram(),
                 {"station", file, "--link", "UDP", "--slots", "127.0.90.003", "--records",
                  (files.Path() / "other.sqlite").string()},
                 StationOptions(files));
    EXPECT_EQ(second.status, kExitUsage);
    EXPECT_NE(second.err.find("another station already serves the slot 127.0.90.003"),
              std::string::npos)
        << second.err;
    first.Signal(SIGTERM);
    EXPECT_EQ(first.Wait(), 0);
}
