// The real program updating several devices in one run: simulated network devices on their
// own 127.0.8.x addresses and serial devices on pseudo-terminals, with mixed outcomes; the
// JSON events checked against what each device recorded; the file check against the update.

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>

#include "e2e_fixture.h"
#include "engine/update_file.h"
#include "links/serial_sim_pty.h"
#include "sim/enc_maker.h"
#include "update/exit_codes.h"

namespace {

// The JSON Lines of a run, each parsed; a line that is no JSON object fails the test.
std::vector<QJsonObject> Events(const std::string& out) {
    std::vector<QJsonObject> events;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line));
        EXPECT_TRUE(doc.isObject()) << line;
        events.push_back(doc.object());
    }
    return events;
}

// Each device's events of one kind.
std::map<std::string, std::vector<QJsonObject>> ByDevice(const std::vector<QJsonObject>& events,
                                                         const char* kind) {
    std::map<std::string, std::vector<QJsonObject>> found;
    for (const QJsonObject& e : events) {
        if (e.value("event").toString() == QLatin1String(kind)) {
            found[e.value("device").toString().toStdString()].push_back(e);
        }
    }
    return found;
}

class FleetTest : public ::testing::Test {
  protected:
    UdpSimServer& Serve(const std::string& address, SimOptions options = {}) {
        devices_.push_back(std::make_unique<UdpSimServer>(std::move(options), address));
        std::string error;
        EXPECT_TRUE(devices_.back()->Start(error)) << error;
        return *devices_.back();
    }
    static std::size_t FramesOf(UdpSimServer& device) {
        return device.Inspect([](const BootloaderSim& sim) { return sim.Frames().size(); });
    }
    ChildResult Flashwright(const std::vector<std::string>& args, bool terminal = false) {
        ChildOptions options;
        options.stderrOnTerminal = terminal;
        return RunChild(FlashwrightProgram(), args, options);
    }

    TempDir dir_;
    std::string file_ = WriteUpdate(dir_.Path().string(), PseudoRandomBytes(2000, 3), 250);
    std::vector<std::unique_ptr<UdpSimServer>> devices_;
};

}  // namespace

// Success, a CRC storm (-15), a silent address (-11 after the 10 s window) and a signature
// error (-16), given in that order: each device's own result, and the exit status of the first
// failure in the order given.
TEST_F(FleetTest, NetworkDevicesEndEachWithItsOwnResult) {
    UdpSimServer& ok = Serve("127.0.8.1");
    SimOptions storm;
    storm.faults = {{2, 0x22, 4}};
    UdpSimServer& crc = Serve("127.0.8.2", storm);
    SimOptions wrongDevice;
    wrongDevice.defaultReply = 0x33;
    UdpSimServer& signature = Serve("127.0.8.4", wrongDevice);

    const ChildResult r =
        Flashwright({"UDP", "127.0.8.1,127.0.8.2,127.0.8.3,127.0.8.4", file_, "--json"});
    EXPECT_EQ(r.status, ExitStatus(kExitTooManyErrors));
    EXPECT_EQ(r.err, "");

    const std::vector<QJsonObject> events = Events(r.out);
    auto results = ByDevice(events, "result");
    const std::map<std::string, int> expected{{"127.0.8.1", 0},
                                              {"127.0.8.2", kExitTooManyErrors},
                                              {"127.0.8.3", kExitNoBootloader},
                                              {"127.0.8.4", kExitSignatureError}};
    for (const auto& [device, code] : expected) {
        SCOPED_TRACE(device);
        ASSERT_EQ(results[device].size(), 1u);
        EXPECT_EQ(results[device][0].value("code").toInt(), code);
        EXPECT_EQ(results[device][0].value("exitStatus").toInt(), ExitStatus(code));
    }
    EXPECT_EQ(results["127.0.8.1"][0].value("framesSent").toInt(), static_cast<int>(FramesOf(ok)));
    EXPECT_EQ(results["127.0.8.1"][0].value("message").toString(), "Programming successful");
    EXPECT_EQ(results["127.0.8.2"][0].value("framesSent").toInt(), static_cast<int>(FramesOf(crc)));
    EXPECT_EQ(results["127.0.8.2"][0].value("retries").toInt(), 3);
    EXPECT_EQ(results["127.0.8.4"][0].value("framesSent").toInt(),
              static_cast<int>(FramesOf(signature)));
    EXPECT_EQ(ok.Inspect([](const BootloaderSim& sim) { return sim.AcceptedPayload(); }),
              PseudoRandomBytes(2000, 3));

    const auto retries = ByDevice(events, "retry");
    ASSERT_EQ(retries.at("127.0.8.2").size(), 3u);
    EXPECT_EQ(retries.at("127.0.8.2")[0].value("frame").toInt(), 2);
    EXPECT_EQ(retries.at("127.0.8.2")[0].value("reply").toString(), "0x22");
    const QJsonObject start = ByDevice(events, "start").at("127.0.8.1")[0];
    EXPECT_EQ(start.value("link").toString(), "UDP");
    EXPECT_EQ(start.value("frames").toInt(), 8);
    const QJsonObject synchronised = ByDevice(events, "synchronised").at("127.0.8.1")[0];
    EXPECT_EQ(synchronised.value("bootloaderVersion").toString(), "1.05");
    EXPECT_EQ(synchronised.value("deviceName").toString(), "Corvane");
    EXPECT_EQ(ByDevice(events, "progress").at("127.0.8.1").back().value("percent").toInt(), 100);
}

TEST_F(FleetTest, ATerminalShowsALineADeviceAndASummary) {
    Serve("127.0.8.5");
    SimOptions notReady;
    notReady.faults = {{1, 0xFE}};
    Serve("127.0.8.6", notReady);
    const std::string list = (dir_.Path() / "rack.txt").string();
    std::ofstream(list) << "# rack 1\n127.0.8.5\n\n127.0.8.6   # the spare\n";

    const ChildResult r = Flashwright({"UDP", "@" + list, file_}, true);
    EXPECT_EQ(r.status, ExitStatus(kExitNotReady));
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("127.0.8.5  100%"), std::string::npos) << r.err;
    // The terminal ends its lines with a carriage return and a line feed.
    EXPECT_NE(r.err.find("1 succeeded, 1 failed:\r\n  127.0.8.6: Error: BootLoader is hanging! "
                         "(exit code -17)\r\n"),
              std::string::npos)
        << r.err;
}

TEST_F(FleetTest, SerialDevicesOnPseudoTerminals) {
    SimOnPty good;
    SimOptions wrongDevice;
    wrongDevice.defaultReply = 0x33;
    SimOnPty signature(wrongDevice);
    const ChildResult r =
        Flashwright({"COM", good.Path() + "," + signature.Path(), file_, "--json"});
    EXPECT_EQ(r.status, ExitStatus(kExitSignatureError));
    EXPECT_EQ(r.err, "") << "no warning of Qt's on standard error";
    auto results = ByDevice(Events(r.out), "result");
    EXPECT_EQ(results[good.Path()].at(0).value("code").toInt(), 0);
    EXPECT_EQ(results[signature.Path()].at(0).value("code").toInt(), kExitSignatureError);
    EXPECT_EQ(good.Frames(), SplitFrames(ReadUpdateFile(file_).image.bytes));
}

// Two spellings of one device (an octal part, a link to a port) would have two threads write
// to it at once: the run is refused before anything is opened.
TEST_F(FleetTest, OneDeviceNamedTwiceIsRefusedAndNothingIsSent) {
    UdpSimServer& device = Serve("127.0.8.8");
    SimOnPty port;
    const std::string link = (dir_.Path() / "fixture-1").string();
    std::filesystem::create_symlink(port.Path(), link);
    const std::vector<std::pair<std::vector<std::string>, std::string>> runs{
        {{"UDP", "127.0.8.8,127.0.8.010", file_}, "\"127.0.8.8\" and \"127.0.8.010\""},
        {{"COM", port.Path() + "," + link, file_, "--json"},
         "\"" + port.Path() + "\" and \"" + link + "\""}};
    for (const auto& [args, spellings] : runs) {
        const ChildResult r = Flashwright(args);
        EXPECT_EQ(r.status, kExitUsage);
        EXPECT_NE(r.err.find(spellings), std::string::npos) << r.err;
        EXPECT_EQ(r.out, "");
    }
    const auto requests = [](const BootloaderSim& sim) { return sim.SyncRequests(); };
    EXPECT_EQ(device.Inspect(requests), 0u);
    EXPECT_EQ(port.Server().Inspect(requests), 0u);
    EXPECT_TRUE(port.Frames().empty());
}

// A supervisor's SIGTERM (Ctrl-C's SIGINT takes the same path, but a test run in the background
// may pass it on ignored) while one device has finished and one still waits for its bootloader:
// the waiting one still gets its result line.
TEST_F(FleetTest, AnInterruptedJsonRunEndsWithAResultForEveryDevice) {
    Serve("127.0.8.9");
    BackgroundChild run(FlashwrightProgram(), {"UDP", "127.0.8.9,127.0.8.10", file_, "--json"});
    ASSERT_TRUE(run.WaitForLine("{\"code\":0,", std::chrono::seconds(8)));
    run.Signal(SIGTERM);
    const std::optional<std::string> line = run.WaitForLine("\"result\"", std::chrono::seconds(2));
    ASSERT_TRUE(line.has_value());
    const QJsonObject result = Events(*line).at(0);
    EXPECT_EQ(result.value("device").toString(), "127.0.8.10");
    EXPECT_EQ(result.value("code").toInt(), 143);
    EXPECT_EQ(result.value("exitStatus").toInt(), 143);
    EXPECT_EQ(result.value("message").toString(), "Error: interrupted by SIGTERM!");
}

// The check reads and walks a file as the update does, so both end with the same code.
TEST_F(FleetTest, TheFileCheckAgreesWithTheUpdate) {
    Serve("127.0.8.7");
    const auto write = [&](const char* name, const std::string& text) {
        const std::string path = (dir_.Path() / name).string();
        std::ofstream(path) << text;
        return path;
    };
    struct Case {
        std::string path;
        int code;
        const char* verdict;
    };
    const std::vector<Case> cases{
        {file_, 0, "valid"},
        {write("odd.enc", "0002AABBC"), kExitFileMalformed, "odd size: 9 characters"},
        {write("short.enc", "0"), kExitFileTooShort, "short file: shorter than 2 bytes"},
        {write("long.enc", "0115" + std::string(2 * 277, 'A')), kExitFileMalformed,
         "malformed frame at offset 0 (L 277): length over 276"},
        {write("past.enc", "0001AA0004BBBB"), kExitFileMalformed,
         "malformed frame at offset 3 (L 4): frame past the end of the file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const ChildResult check = Flashwright({"check", c.path});
        EXPECT_EQ(check.status, ExitStatus(c.code));
        EXPECT_NE(check.out.find(c.verdict), std::string::npos) << check.out;
        EXPECT_EQ(Flashwright({"UDP", "127.0.8.7", c.path}).status, check.status);
    }
    const QJsonObject json = Events(Flashwright({"check", file_, "--json"}).out).at(0);
    EXPECT_EQ(json.value("frames").toInt(), 8);
    EXPECT_EQ(json.value("largestL").toInt(), 250);
    EXPECT_TRUE(json.value("valid").toBool());
}
