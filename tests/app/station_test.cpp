// The station end to end: the real program updating simulated devices as they come and go on
// a bus, in UDP slots and on serial ports, with its records.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <atomic>
#include <csignal>
#include <deque>
#include <filesystem>
#include <fstream>
#include <future>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "e2e_fixture.h"
#include "records/store_status.h"
#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"
#include "sim/pty_transport.h"
#include "sim/usbxpress_transport.h"
#include "update/exit_codes.h"

namespace {

class StationE2eTest : public ::testing::Test {
  protected:
    std::string UpdateFile() {
        const std::string path = (files_.Path() / "app.enc").string();
        std::string error;
        EXPECT_TRUE(WriteUpdateFile(path, PseudoRandomBytes(1500, 5), 276, error)) << error;
        return path;
    }
    ChildOptions Options() const {
        ChildOptions options;
        options.environment = {{"FLASHWRIGHT_FTDI_BUS", bus_.Path().string()},
                               {"XDG_CONFIG_HOME", files_.Path().string()},
                               {"XDG_RUNTIME_DIR", files_.Path().string()},
                               {"XDG_STATE_HOME", files_.Path().string()},
                               {"FLASHWRIGHT_CORVANE_CODE", "5AC33CA5"}};
        return options;
    }
    FtdiSimServer& Plug(const std::string& serial, std::optional<std::uint8_t> reply = 0x11,
                        bool inApplication = false) {
        FtdiSimOptions o;
        o.serial = serial;
        o.bootloader.defaultReply = reply;
        if (inApplication) {  // a Corvane device: told its code, it restarts in its bootloader
            o.description = "Corvane";
            o.startInApplication = true;
            o.application.hardware = "HW-" + serial;
        }
        devices_.push_back(std::make_unique<FtdiSimServer>(bus_.Path().string(), o));
        std::string error;
        EXPECT_TRUE(devices_.back()->Start(error)) << error;
        return *devices_.back();
    }
    // The code of the next result of `device` among the station's events, in whatever order
    // the devices end.
    std::optional<int> Result(BackgroundChild& station, const std::string& device) {
        while (results_[device].empty()) {
            const std::optional<std::string> line =
                station.WaitForLine("\"event\":\"result\"", std::chrono::seconds(20));
            if (!line) {
                return std::nullopt;
            }
            const std::size_t at = line->find("\"device\":\"") + 10;
            results_[line->substr(at, line->find('"', at) - at)].push_back(
                std::stoi(line->substr(line->find("\"code\":") + 7)));
        }
        const int code = results_[device].front();
        results_[device].pop_front();
        return code;
    }
    // The update sessions a simulated device has received frames in.
    template <typename Server>
    static std::size_t Sessions(const Server& device) {
        return device.Inspect([](const BootloaderSim& sim) {
            std::set<unsigned> sessions;
            for (const SimFrame& frame : sim.Frames()) {
                sessions.insert(frame.session);
            }
            return sessions.size();
        });
    }
    std::map<std::string, std::deque<int>> results_;

    TempDir bus_;
    TempDir files_;
    std::vector<std::unique_ptr<FtdiSimServer>> devices_;
};

}  // namespace

TEST_F(StationE2eTest, EveryDeviceOnTheBusIsUpdatedOncePerVisit) {
    const std::string file = UpdateFile();
    BackgroundChild station(FlashwrightProgram(), {"station", file, "--link", "FTDI", "--json"},
                            Options());
    FtdiSimServer& first = Plug("ST01");
    EXPECT_EQ(Result(station, "ST01"), 0);
    // A second station on the same bus refuses.
    const ChildResult second =
        RunChild(FlashwrightProgram(), {"station", file, "--link", "FTDI"}, Options());
    EXPECT_EQ(second.status, kExitUsage);
    EXPECT_NE(second.err.find("another station already serves the bus folder"), std::string::npos);
    // The file changes on disk: the devices still get the bytes read at the start.
    files_.Write("app.enc", "x");

    // Three at once, one of them failing, one running its application until the Corvane code.
    Plug("ST02", 0x11, true);
    Plug("ST03");
    FtdiSimServer& failing = Plug("ST04", 0x22);
    EXPECT_EQ(Result(station, "ST02"), 0);
    EXPECT_EQ(Result(station, "ST03"), 0);
    EXPECT_EQ(Result(station, "ST04"), kExitTooManyErrors);

    // The first leaves and comes back: updated again; the failing one, attached all along,
    // is not tried again until it too comes back.
    first.Unplug();
    ASSERT_TRUE(first.Replug());
    EXPECT_EQ(Result(station, "ST01"), 0);
    EXPECT_EQ(Sessions(failing), 1u);
    failing.Unplug();
    ASSERT_TRUE(failing.Replug());
    EXPECT_EQ(Result(station, "ST04"), kExitTooManyErrors);

    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), ExitStatus(kExitTooManyErrors));
    EXPECT_EQ(Sessions(first), 2u);
    EXPECT_EQ(Sessions(*devices_[1]), 1u);
    EXPECT_EQ(Sessions(*devices_[2]), 1u);
    // The records: 6 attempts, 4 passed, 2 failed, of 4 devices 3 passed at the first go.
    const ChildResult summary =
        RunChild(FlashwrightProgram(), {"records", "--summary", "--csv"}, Options());
    EXPECT_NE(summary.out.find(",6,4,2,4,3,0.7500\r\n"), std::string::npos) << summary.out;
    // Every front end records the file by its name; the Corvane device with its versions.
    const ChildResult rows = RunChild(FlashwrightProgram(), {"records", "--csv"}, Options());
    EXPECT_NE(rows.out.find(",HW-ST02,FW-SW 1.0,app.enc,"), std::string::npos) << rows.out;
    EXPECT_EQ(rows.out.find(files_.Path().string()), std::string::npos);
}

TEST_F(StationE2eTest, UsbXpressDevicesAreUpdatedOncePerVisit) {
    ChildOptions options = Options();
    options.environment.emplace_back("FLASHWRIGHT_USBXPRESS_BUS", bus_.Path().string());
    BackgroundChild station(FlashwrightProgram(),
                            {"station", UpdateFile(), "--link", "USBX", "--json"}, options);
    std::vector<std::unique_ptr<UsbXpressSimServer>> devices;
    for (const char* serial : {"UX01", "UX02"}) {  // at once, one in its application
        UsbXpressSimOptions o;
        o.serial = serial;
        if (devices.empty()) {
            o.description = "Pellix-USB";
            o.startInApplication = true;
        }
        devices.push_back(std::make_unique<UsbXpressSimServer>(bus_.Path().string(), o));
        std::string error;
        ASSERT_TRUE(devices.back()->Start(error)) << error;
    }
    EXPECT_EQ(Result(station, "UX01"), 0);
    EXPECT_EQ(Result(station, "UX02"), 0);
    devices[1]->Unplug();
    ASSERT_TRUE(devices[1]->Replug());
    EXPECT_EQ(Result(station, "UX02"), 0);
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), 0);
    EXPECT_EQ(Sessions(*devices[0]), 1u);
    EXPECT_EQ(Sessions(*devices[1]), 2u);
}

// Without its code a Corvane device fails with the single command's settings error, no replug.
TEST_F(StationE2eTest, ACorvaneDeviceWithoutItsCodeIsASettingsErrorNotAReplug) {
    ChildOptions options = Options();
    options.environment.back().second = "";  // no FLASHWRIGHT_CORVANE_CODE, no settings file
    BackgroundChild station(FlashwrightProgram(),
                            {"station", UpdateFile(), "--link", "FTDI", "--json"}, options);
    Plug("CV01", 0x11, true);
    const auto result = station.WaitForLine("\"event\":\"result\"", std::chrono::seconds(20));
    ASSERT_TRUE(result.has_value());
    EXPECT_NE(result->find("\"message\":\"Error: no enter-bootloader code configured: set "),
              std::string::npos)
        << *result;
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), ExitStatus(kExitNoSwitch));
}

// The bus folder vanishes mid-session: the operator is told, and the station neither crashes
// nor hangs; once the folder is back its devices are updated, and should it go again, it is
// told again.
TEST_F(StationE2eTest, AVanishedBusFolderIsShownAndTheStationGoesOn) {
    BackgroundChild station(FlashwrightProgram(),
                            {"station", UpdateFile(), "--link", "FTDI", "--json"}, Options());
    FtdiSimServer* device = &Plug("BACK0");
    EXPECT_EQ(Result(station, "BACK0"), 0);
    for (const char* serial : {"BACK1", "BACK2"}) {
        device->Unplug();
        std::filesystem::remove(bus_.Path());
        ASSERT_TRUE(station.WaitForLine(" is gone", std::chrono::seconds(20))) << serial;
        std::filesystem::create_directory(bus_.Path());
        device = &Plug(serial);
        EXPECT_EQ(Result(station, serial), 0);
    }
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), 0);
}

// A records database that can no longer grow (the file size limit stands for a full disk):
// the station takes no device it cannot record, ends once the running updates have, and
// says so with the records' status.
TEST_F(StationE2eTest, ARecordsWriteErrorStopsTakingDevices) {
    const std::string file = UpdateFile();
    BackgroundChild station("/bin/sh",
                            {"-c", "trap '' XFSZ; exec prlimit --fsize=65536 \"$0\" \"$@\"",
                             FlashwrightProgram(), "station", file, "--link", "FTDI", "--json"},
                            Options());
    bool stopped = false;
    for (int i = 0; i < 16 && !stopped; ++i) {
        const std::string serial = "DF" + std::to_string(i);
        Plug(serial);
        stopped = !Result(station, serial).has_value();
    }
    EXPECT_EQ(station.Wait(), kExitRecordsUnwritable);
    std::size_t updated = 0;
    for (const auto& device : devices_) {
        updated += Sessions(*device);
    }
    const ChildResult rows = RunChild(FlashwrightProgram(), {"records", "--csv"}, Options());
    EXPECT_EQ(std::count(rows.out.begin(), rows.out.end(), '\n'), updated + 1) << rows.out;
}

TEST_F(StationE2eTest, DevicesRestartedIntoTheirBootloaderInTheirSlotsAreUpdated) {
    const std::string file = UpdateFile();
    BackgroundChild station(
        FlashwrightProgram(),
        {"station", file, "--link", "UDP", "--slots", "127.0.21.1,127.0.21.2", "--json"},
        Options());
    std::string error;
    UdpSimServer one({}, "127.0.21.1");
    ASSERT_TRUE(one.Start(error)) << error;
    EXPECT_EQ(Result(station, "127.0.21.1"), 0);
    UdpSimServer two({}, "127.0.21.2");
    ASSERT_TRUE(two.Start(error)) << error;
    EXPECT_EQ(Result(station, "127.0.21.2"), 0);
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), 0);
    EXPECT_EQ(Sessions(one), 1u);
    EXPECT_EQ(Sessions(two), 1u);
}

// A plant database that is away: the station says so and goes on updating, recording locally.
TEST_F(StationE2eTest, AnUnreachablePlantDatabaseDoesNotStopTheStation) {
    UdpSimServer device({}, "127.0.21.6");
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    BackgroundChild station(FlashwrightProgram(),
                            {"station", UpdateFile(), "--link", "UDP", "--slots", "127.0.21.6",
                             "--records", "postgresql://line@127.0.21.9:1/plant", "--json"},
                            Options());
    const std::optional<std::string> plant =
        station.WaitForLine("\"event\":\"plant\"", std::chrono::seconds(20));
    ASSERT_TRUE(plant.has_value());
    EXPECT_NE(plant->find("\"state\":\"unreachable\""), std::string::npos) << *plant;
    EXPECT_EQ(Result(station, "127.0.21.6"), 0);
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), 0);  // every device passed; the records wait for the plant
    const ChildResult local = RunChild(FlashwrightProgram(), {"records", "--csv"}, Options());
    EXPECT_NE(local.out.find(",127.0.21.6,"), std::string::npos) << local.out;
}

TEST_F(StationE2eTest, AKilledOrTwiceStoppedStationRecordsTheRunningUpdateAsInterrupted) {
    const std::string file = UpdateFile();
    SimOptions slow;
    slow.replyDelayMs = 500;  // the transfer outlasts both stops
    UdpSimServer device(slow, "127.0.21.3");
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    const std::vector<std::string> args{"station", file,         "--link", "UDP",
                                        "--slots", "127.0.21.3", "--json"};
    {
        BackgroundChild killed(FlashwrightProgram(), args, Options());
        ASSERT_TRUE(killed.WaitForLine("\"event\":\"start\"", std::chrono::seconds(20)));
        killed.Kill();
    }
    // The next start finds the killed one's attempt running and marks it interrupted. A closed
    // terminal (SIGHUP) stops as a supervisor does.
    for (const int signal : {SIGTERM, SIGHUP}) {
        BackgroundChild station(FlashwrightProgram(), args, Options());
        ASSERT_TRUE(station.WaitForLine("\"event\":\"start\"", std::chrono::seconds(20)));
        station.Signal(signal);
        // Two signals sent at once would arrive as one: the second follows the first's notice.
        ASSERT_TRUE(station.WaitForLine("stopping: no new devices", std::chrono::seconds(20)));
        station.Signal(signal);
        EXPECT_EQ(station.Wait(), 128 + signal);
    }
    const ChildResult records = RunChild(FlashwrightProgram(), {"records", "--csv"}, Options());
    EXPECT_NE(records.out.find(",interrupted,"), std::string::npos) << records.out;
    EXPECT_NE(records.out.find("Error: interrupted by SIGTERM!"), std::string::npos);
    EXPECT_NE(records.out.find("Error: interrupted by SIGHUP!"), std::string::npos);
    EXPECT_NE(records.out.find(",the program ended before the attempt did,"), std::string::npos);
}

// "Stop now" ends the transfer at a frame boundary; its result and record count every frame.
TEST_F(StationE2eTest, TwoStopsEndTheTransferAtAFrameBoundaryWithEveryFrameRecorded) {
    const std::string file = (files_.Path() / "long.enc").string();
    std::string error;
    ASSERT_TRUE(WriteUpdateFile(file, PseudoRandomBytes(20000, 7), 276, error)) << error;
    SimOptions slow;
    slow.replyDelayMs = 300;  // 73 frames take 22 s: the transfer outlasts both stops by far
    UdpSimServer device(slow, "127.0.91.1");
    ASSERT_TRUE(device.Start(error)) << error;
    BackgroundChild station(FlashwrightProgram(),
                            {"station", file, "--link", "UDP", "--slots", "127.0.91.1", "--json"},
                            Options());
    ASSERT_TRUE(station.WaitForLine("\"percent\":1", std::chrono::seconds(20)));
    station.Signal(SIGINT);
    ASSERT_TRUE(station.WaitForLine("stopping: no new devices", std::chrono::seconds(20)));
    station.Signal(SIGINT);
    const std::optional<std::string> result =
        station.WaitForLine("\"event\":\"result\"", std::chrono::seconds(20));
    ASSERT_TRUE(result);
    EXPECT_EQ(station.Wait(), 128 + SIGINT);
    const std::size_t received = device.Inspect([](const auto& s) { return s.Frames().size(); });
    const auto count = [](const std::string& text, const std::string& key) {
        return std::stoul(text.substr(text.find(key) + key.size()));
    };
    const ChildResult records = RunChild(FlashwrightProgram(), {"records", "--json"}, Options());
    EXPECT_EQ(count(records.out, "\"frames_sent\":"), received) << records.out;
    EXPECT_EQ(count(*result, "\"framesSent\":"), received) << *result;
}

TEST_F(StationE2eTest, SerialPortsInTheirSlotsAreUpdatedAsTheyAppear) {
    const std::string file = UpdateFile();
    const std::string one = (files_.Path() / "port1").string();
    const std::string two = (files_.Path() / "port2").string();
    std::string error;
    PtySimServer first({}, 0, one);
    ASSERT_TRUE(first.Start(error)) << error;
    BackgroundChild station(
        FlashwrightProgram(),
        {"station", file, "--link", "COM", "--slots", one + "," + two, "--json"}, Options());
    EXPECT_EQ(Result(station, one), 0);
    PtySimServer second({}, 0, two);  // plugged in while the station runs
    ASSERT_TRUE(second.Start(error)) << error;
    EXPECT_EQ(Result(station, two), 0);
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), 0);
    EXPECT_EQ(Sessions(first), 1u);
    EXPECT_EQ(Sessions(second), 1u);
}

TEST_F(StationE2eTest, TheWindowServesTheSameStationAndStopsAsCtrlCDoes) {
    const std::string file = UpdateFile();
    SimOptions quick;
    quick.sessionIdleMs = 200;  // the update's end is told soon
    std::promise<void> served;
    std::atomic<bool> told{false};
    UdpSimServer device(quick, "127.0.21.4");  // ends before what its handler uses
    std::string error;
    ASSERT_TRUE(device.Start(error, [&](const SimSessionSummary& summary) {
        if (summary.framesAccepted > 0 && !told.exchange(true)) {
            served.set_value();
        }
    })) << error;
    ChildOptions options = Options();
    options.environment.emplace_back("QT_QPA_PLATFORM", "offscreen");
    BackgroundChild station(FlashwrightProgram(),
                            {"station", file, "--link", "UDP", "--slots", "127.0.21.4", "--window"},
                            options);
    ASSERT_EQ(served.get_future().wait_for(std::chrono::seconds(20)), std::future_status::ready);
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), 0);
    EXPECT_EQ(Sessions(device), 1u);
    const ChildResult records = RunChild(FlashwrightProgram(), {"records", "--csv"}, Options());
    EXPECT_NE(records.out.find(",127.0.21.4,"), std::string::npos) << records.out;
    EXPECT_NE(records.out.find("Programming successful"), std::string::npos);
}

// A monitoring server of the test's own: its configuration and data in `folder`, scraping
// `target` every second, its HTTP API at `api`.
class PrivatePrometheus {
  public:
    PrivatePrometheus(const std::filesystem::path& folder, const std::string& target,
                      std::string api)
        : api_(std::move(api)) {
        std::filesystem::create_directories(folder / "data");
        const std::filesystem::path config = folder / "prometheus.yml";
        std::ofstream(config) << "global: {scrape_interval: 1s, evaluation_interval: 1s}\n"
                                 "scrape_configs:\n  - job_name: station\n"
                                 "    static_configs: [{targets: ['"
                              << target << "']}]\n";
        server_.emplace("/bin/sh",
                        std::vector<std::string>{
                            "-c", "exec prometheus --config.file=" + config.string() +
                                      " --storage.tsdb.path=" + (folder / "data").string() +
                                      " --web.listen-address=" + api_ + " > " +
                                      (folder / "prometheus.log").string() + " 2>&1"});
    }
    // The instant query's value for each value of `label`, once there is one for each of
    // `wanted` (its first samples come some seconds after the start), or what there was then.
    std::map<std::string, double> Query(const std::string& query, const std::string& label,
                                        std::size_t wanted) const {
        std::map<std::string, double> values;
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(40);
        while (values.size() < wanted && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(500));
            const ChildResult r =
                RunChild("/usr/bin/curl", {"-fsSG", "http://" + api_ + "/api/v1/query",
                                           "--data-urlencode", "query=" + query});
            const QJsonArray result = QJsonDocument::fromJson(QByteArray::fromStdString(r.out))
                                          .object()["data"]
                                          .toObject()["result"]
                                          .toArray();
            values.clear();
            for (const QJsonValue& series : result) {
                const QJsonObject o = series.toObject();
                values[o["metric"]
                           .toObject()[QString::fromStdString(label)]
                           .toString()
                           .toStdString()] = o["value"].toArray()[1].toString().toDouble();
            }
        }
        return values;
    }

  private:
    std::string api_;
    std::optional<BackgroundChild> server_;
};

// The station's figures: a real monitoring server scraping the station and a scrape of
// /metrics count the attempts by result as the records do, and the scrape passes the server's
// own lint; the port a running station serves its figures on is refused to another, which ends
// before serving anything.
TEST_F(StationE2eTest, TheMetricsCountTheAttemptsAsTheRecordsDoAndTheirPortIsTheStationsOwn) {
    const std::string file = UpdateFile();
    const std::string listen = "127.0.107.50:9107";
    const PrivatePrometheus prometheus(files_.Path() / "prometheus", listen, "127.0.108.1:9090");
    SimOptions failing;
    failing.defaultReply = 0x22;  // refuses every frame
    UdpSimServer good({}, "127.0.107.1");
    UdpSimServer bad(failing, "127.0.107.2");
    std::string error;
    ASSERT_TRUE(good.Start(error)) << error;
    ASSERT_TRUE(bad.Start(error)) << error;
    BackgroundChild station(FlashwrightProgram(),
                            {"station", file, "--link", "UDP", "--slots", "127.0.107.1,127.0.107.2",
                             "--station", "line 1", "--json", "--metrics", listen},
                            Options());
    EXPECT_EQ(Result(station, "127.0.107.1"), 0);
    EXPECT_NE(Result(station, "127.0.107.2"), 0);

    const std::string scrape = (files_.Path() / "scrape.txt").string();
    const ChildResult fetched =
        RunChild("/bin/sh", {"-c", "curl -fsS http://" + listen + "/metrics > " + scrape});
    ASSERT_EQ(fetched.status, 0) << fetched.err;
    const ChildResult lint = RunChild("/bin/sh", {"-c", "promtool check metrics < " + scrape});
    EXPECT_EQ(lint.status, 0) << lint.out << lint.err;
    const std::string text = files_.Read("scrape.txt");
    const auto attempts = [&text](const std::string& result) {
        const std::string name = "flashwright_attempts_total{";
        double total = 0;
        for (std::size_t at = text.find(name); at != std::string::npos;
             at = text.find(name, at + 1)) {
            const std::string line = text.substr(at, text.find('\n', at) - at);
            if (line.find("result=\"" + result + "\"") != std::string::npos &&
                line.find("station=\"line 1\"") != std::string::npos) {
                total += std::stod(line.substr(line.rfind(' ') + 1));
            }
        }
        return static_cast<int>(total);
    };
    EXPECT_NE(text.find("flashwright_first_pass_yield_ratio{station=\"line 1\"} 0.5"),
              std::string::npos)
        << text;

    // Another station (its own slot and records) given the same port by its settings does
    // not start.
    std::filesystem::create_directories(files_.Path() / "flashwright");
    files_.Write("flashwright/flashwright.conf", "[metrics]\nlisten=" + listen + "\n");
    std::vector<std::string> second{
        "station", file,          "--link",    "UDP",
        "--slots", "127.0.107.3", "--records", (files_.Path() / "other.db").string(),
        "--json"};
    const ChildResult taken = RunChild(FlashwrightProgram(), second, Options());
    EXPECT_EQ(taken.status, 71) << taken.err;
    EXPECT_NE(taken.err.find("the metrics cannot be served at " + listen), std::string::npos)
        << taken.err;
    // No address is implied.
    second.insert(second.end(), {"--metrics", ":9108"});
    EXPECT_EQ(RunChild(FlashwrightProgram(), second, Options()).status, kExitUsage);

    // What the server scraped while the station still serves.
    const std::map<std::string, double> scraped = prometheus.Query(
        "sum by (result) (flashwright_attempts_total{station=\"line 1\"})", "result", 2);
    station.Signal(SIGTERM);
    station.Wait();
    // day,file_sha256,attempts,passed,failed,...
    const ChildResult summary =
        RunChild(FlashwrightProgram(), {"records", "--summary", "--csv"}, Options());
    const std::string row = summary.out.substr(summary.out.find('\n') + 1);
    std::vector<int> columns;
    for (std::size_t at = row.find(',', row.find(',') + 1); columns.size() < 3;
         at = row.find(',', at + 1)) {
        columns.push_back(std::stoi(row.substr(at + 1)));
    }
    EXPECT_EQ(attempts("passed") + attempts("failed"), columns[0]) << summary.out;
    EXPECT_EQ(attempts("passed"), columns[1]) << text;
    EXPECT_EQ(attempts("failed"), columns[2]) << text;
    const auto at = [&scraped](const std::string& result) {
        return scraped.count(result) != 0 ? scraped.at(result) : -1.0;
    };
    EXPECT_EQ(at("passed"), columns[1]) << summary.out;
    EXPECT_EQ(at("failed"), columns[2]) << summary.out;
    std::cout << "query: passed " << at("passed") << ", failed " << at("failed")
              << "\nrecords --summary:\n"
              << summary.out;
    // Every frame the records count, counted once, through the operator's view's observer.
    const std::string records =
        RunChild(FlashwrightProgram(), {"records", "--json"}, Options()).out;
    int frames = 0;
    for (std::size_t at = records.find("\"frames_sent\":"); at != std::string::npos;
         at = records.find("\"frames_sent\":", at + 1)) {
        frames += std::stoi(records.substr(at + 14));
    }
    EXPECT_NE(text.find("flashwright_frames_sent_total{link=\"UDP\",station=\"line 1\"} " +
                        std::to_string(frames) + "\n"),
              std::string::npos)
        << records;
}
