// Operands and options of the command lines, the keyword hint, the tracing switch and the
// display check, in-process.
#include <gtest/gtest.h>

#include <map>

#include "cli/command_line.h"
#include "cli/debug_log_switch.h"
#include "cli/operands.h"
#include "update/same_device.h"
#include "log/debug_log.h"
#include "pages/display_check.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"
#include "update/exit_codes.h"

namespace {

using Tokens = std::vector<std::string>;

TEST(CommandOptions, EveryCommandRefusesWhatItDoesNotKnowBeforeTryingAnything) {
    // Wherever an unknown option, a value-less option or a surplus operand stands, nothing
    // is opened and nothing is logged.
    const std::vector<Tokens> refused{
        {"COM", "/dev/ttyS0", "u.enc", "115200", "--bogus"},
        {"COM", "/dev/ttyS0", "u.enc", "115200", "extra"},
        {"COM", "--device-typ", "mirabel", "/dev/ttyS0", "u.enc"},
        {"COM", "/dev/ttyS0", "u.enc", "--device-type"},
        {"COM", "/dev/ttyS0", "u.enc", "--device-type=other"},
        {"COM", "/dev/ttyS0", "u.enc", ""},
        {"COM", "/dev/ttyS0", "u.enc", "fast"},
        {"COM", "/dev/ttyS0", "u.enc", "115200x"},
        {"UDP", "--bogus", "127.0.0.1", "u.enc"},
        {"UDP", "127.0.0.1", "u.enc", "-x"},
        {"udp", "127.0.0.1", "u.enc", "--device-type", "mirabel"},
        {"COM", "/dev/ttyS0", "u.enc", "--wait", "0"},
        {"FTDI", "FT1", "u.enc", "--wait", "ten"},
        {"USBX", "SN1", "u.enc", "extra"},
        {"USBX", "SN1", "u.enc", "--device-type", "mirabel"},
        {"--list-ports", "extra"},
        {"--list-ports", "--all"},
        {"--version", "1"},
        {"UDP", "127.0.0.1,127.0.0.1", "u.enc"},
        {"UDP", "127.0.0.1,,127.0.0.2", "u.enc"},
        {"UDP", "@/nonexistent/rack.txt", "u.enc"},
        {"COM", "@/dev/zero", "u.enc"},
        {"check"},
        {"check", "u.enc", "--bogus"},
        {"UDP", "--json"},
        {"UDP", "127.0.0.1", "--json"},
        {"COM"},
        {"COM", "/dev/ttyS0"},
        {"FTDI", "--json"},
        {"USBX", "SN1", "--wait", "3"},
    };
    for (const Tokens& args : refused) {
        RecordingLog log;
        EXPECT_EQ(RunCommandLine(args, log), kExitUsage) << args.back();
        EXPECT_TRUE(log.Entries().empty()) << args.back();
    }
}

TEST(CommandOptions, OptionsStandAnywhereAndDoubleDashEndsThem) {
    std::string error;
    const std::array known{OptionSpec{"--device-type", true}};
    const Tokens tokens{"--device-type=mirabel", "port", "--", "-file.enc", "--device-type"};
    const std::optional<Operands> split = SplitOperands(tokens, known, 3, error);
    ASSERT_TRUE(split.has_value()) << error;
    EXPECT_EQ(split->positional, (Tokens{"port", "-file.enc", "--device-type"}));
    EXPECT_EQ(split->Option("--device-type"), "mirabel");
    EXPECT_FALSE(SplitOperands(Tokens{"a", "b", "c", "d"}, known, 3, error).has_value());
    EXPECT_EQ(error, "unexpected operand \"d\"");
    // An operand "-" alone (standard input in many tools) is an operand, not an option.
    EXPECT_EQ(SplitOperands(Tokens{"-"}, known, 3, error)->positional, Tokens{"-"});
}

TEST(CommandOptions, HelpAfterAKeywordPrintsTheUsageAndTriesNothing) {
    // With --json standard output holds JSON only, so the usage goes to standard error.
    const std::vector<std::pair<Tokens, bool>> cases{
        {{"UDP", "--help"}, false},          {{"COM", "/dev/ttyS0", "-h"}, false},
        {{"--list-ports", "--help"}, false}, {{"UDP", "--json", "--help"}, true},
        {{"--help", "--json"}, true},        {{"FTDI", "-h", "--json"}, true},
    };
    for (const auto& [args, onError] : cases) {
        RecordingLog log;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        EXPECT_EQ(RunCommandLine(args, log), 0);
        const std::string out = testing::internal::GetCapturedStdout();
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_TRUE((onError ? err : out).starts_with("Usage:")) << args[0];
        EXPECT_EQ(onError ? out : err, "") << args[0];
        EXPECT_TRUE(log.Entries().empty());
    }
}

TEST(SameDevice, TwoSpellingsOfOneDeviceAreNamedAndDistinctDevicesPass) {
    struct Case {
        Tokens names;
        DeviceKey key;
        std::string error;
    };
    const std::vector<Case> cases{
        {{"127.0.0.1", "localhost"},
         NetworkDeviceKey,
         "\"127.0.0.1\" and \"localhost\" are the same device (127.0.0.1:4107)"},
        {{"127.0.8.9", "localhost", "127.2057"},
         NetworkDeviceKey,
         "\"127.0.8.9\" and \"127.2057\" are the same device (127.0.8.9:4107)"},
        {{"127.0.8.9", "127.0.8.10"}, NetworkDeviceKey, ""},
        {{"null", "/dev/zero", "/dev/null"},
         SerialDeviceKey,
         "\"null\" and \"/dev/null\" are the same device (character device 1:3)"},
        {{"/dev/no-such-port", "/dev/null"}, SerialDeviceKey, ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SameDeviceTwice(c.names, c.key), c.error) << c.names.back();
    }
}

TEST(CommandKeywordHint, LikelySlipsGetTheKeywordAndFileNamesNothing) {
    const std::map<std::string, std::optional<std::string>> cases{
        {"upd", "UDP"},
        {"UPD", "UDP"},
        {"ud", "UDP"},
        {"cmo", "COM"},
        {"--list-port", "--list-ports"},
        {"--hlep", "--help"},
        {"update.enc", std::nullopt},
        {"firmware", std::nullopt},
        {"UDP", std::nullopt},
        {"x", std::nullopt},
    };
    for (const auto& [word, meant] : cases) {
        EXPECT_EQ(SuggestKeyword(word), meant) << word;
    }
}

TEST(DebugLogSwitch, OneOrFilesWritesTheFilesOnlyAndAllOpensTheListenersToo) {
    struct Case {
        const char* value;
        std::array<bool, 4> outputs;  // text file, dump file, text listener, dump listener
    };
    for (const Case& c :
         {Case{"1", {true, true, false, false}}, Case{"files", {true, true, false, false}},
          Case{"all", {true, true, true, true}}, Case{nullptr, {}}, Case{"0", {}},
          Case{"yes", {}}}) {
        TempDir dir;
        DebugLogOptions options;
        options.folder = dir.Path().string();
        options.listenAddress = "127.0.7.1";
        options.textPort = 47023;
        options.dumpPort = 47024;
        C_Debug_Log log(options);
        ApplyDebugLogSwitch(log, c.value);
        std::array<bool, 4> on{};
        ASSERT_EQ(log.GetOutputs(on[0], on[1], on[2], on[3]), 0);
        EXPECT_EQ(on, c.outputs) << (c.value ? c.value : "unset");
    }
}

// A display probe with nothing installed or listening but what a case says.
struct DisplayCase {
    const char* what;
    std::map<std::string, std::string> environment;
    std::vector<std::string> arguments;
    bool xServer = false;
    bool compositor = false;
    bool usable;
    const char* missing;
};

TEST(DisplayCheck, TheDialogOpensOnlyWhereAPlatformCanStart) {
    const std::vector<DisplayCase> cases{
        {"nothing at all", {}, {}, false, false, false, "no X display (DISPLAY is not set)"},
        {"an X server", {{"DISPLAY", ":0"}}, {}, true, false, true, ""},
        {"an X display that is gone",
         {{"DISPLAY", ":9"}},
         {},
         false,
         false,
         false,
         "the X display \":9\" cannot be reached"},
        {"the offscreen platform", {{"QT_QPA_PLATFORM", "offscreen"}}, {}, false, false, true, ""},
        {"a platform not installed",
         {{"QT_QPA_PLATFORM", "bogus"}},
         {},
         false,
         false,
         false,
         "no Qt platform plugin \"bogus\""},
        {"a platform list that names none",
         {{"QT_QPA_PLATFORM", ";:opt"}},
         {},
         true,
         false,
         false,
         "no Qt platform named (-platform or QT_QPA_PLATFORM holds no name)"},
        {"the platform argument",
         {{"QT_QPA_PLATFORM", "bogus"}},
         {"upd", "-platform", "minimal"},
         false,
         false,
         true,
         ""},
        {"a Wayland session without a compositor",
         {{"XDG_SESSION_TYPE", "wayland"}, {"XDG_RUNTIME_DIR", "/run/user/7"}},
         {},
         false,
         false,
         false,
         "no Wayland display at /run/user/7/wayland-0; no X display (DISPLAY is not set)"},
        {"a Wayland compositor",
         {{"XDG_SESSION_TYPE", "wayland"}, {"XDG_RUNTIME_DIR", "/run/user/7"}},
         {},
         false,
         true,
         true,
         ""},
    };
    for (const DisplayCase& c : cases) {
        DisplayProbe probe;
        probe.environment = [&c](const char* name) -> std::optional<std::string> {
            const auto it = c.environment.find(name);
            return it == c.environment.end() ? std::nullopt
                                             : std::optional<std::string>(it->second);
        };
        probe.arguments = c.arguments;
        probe.platformPlugins = [] {
            return std::set<std::string>{"xcb", "wayland", "offscreen", "minimal"};
        };
        probe.connectX = [&c](const std::string&) { return c.xServer; };
        probe.connectWayland = [&c](const std::string& path) {
            return c.compositor && path == "/run/user/7/wayland-0";
        };
        const DisplayCheck check = CheckDisplay(probe);
        EXPECT_EQ(check.usable, c.usable) << c.what;
        EXPECT_EQ(check.missing, c.missing) << c.what;
    }
}

}  // namespace
