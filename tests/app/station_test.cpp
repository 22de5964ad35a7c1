// The station: the slot rule on a scripted link with the virtual clock, and the real program
// updating simulated FTDI devices as they come and go on a bus, and devices in UDP slots.

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <deque>
#include <future>
#include <map>
#include <memory>
#include <set>

#include "e2e_fixture.h"
#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"
#include "sim/pty_transport.h"
#include "station/fixture_slot.h"
#include "station/slot_visit.h"
#include "support/virtual_clock.h"
#include "update/exit_codes.h"

namespace {

// A slot whose bootloader answers during the given spans of virtual time; each attempt takes
// 5 ms, like the link's time-out. Past the last span the station stops taking devices.
class ScriptedSlot final : public NetworkLink {
  public:
    ScriptedSlot(VirtualClock& clock, Station& station,
                 std::vector<std::pair<std::uint64_t, std::uint64_t>> spans)
        : clock_(clock), station_(station), spans_(std::move(spans)) {}
    int Open_Port(std::string_view) override { return 0; }
    int ResetDevice(std::string_view) override { return 0; }
    int SynchroniseBootloader() override {
        clock_.Sleep(5);
        const std::uint64_t t = clock_.NowMs() - kStart;
        if (t > spans_.back().second + kSlotFreeAfterSilenceMs) {
            station_.StopTaking();
        }
        for (const auto& [from, to] : spans_) {
            if (t >= from && t < to) {
                return 0;
            }
        }
        return -1;
    }
    int UpdateAVR(const std::string&, ProgressSink*) override { return 0; }
    BootloaderInfo Info() const override { return {}; }
    static constexpr std::uint64_t kStart = 100000;  // the virtual clock's start

  private:
    VirtualClock& clock_;
    Station& station_;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> spans_;
};

class CountingView final : public StationView {
  public:
    int arrived = 0, left = 0;
    void Arrived(const std::string&) override { ++arrived; }
    void Left(const std::string&) override { ++left; }
    std::unique_ptr<UpdateObserver> Attempt(const std::string&) override {
        return std::make_unique<UpdateObserver>();
    }
    void Result(const std::string&, int, const std::string&) override {}
    void Tally(const StationTally&) override {}
    void Problem(const std::string&) override {}
};

// Counts the attempts the station begins; every write succeeds.
class CountingAttemptLog final : public AttemptLog {
  public:
    int begun = 0;
    std::optional<std::int64_t> Begin(const AttemptRecord&) override { return ++begun; }
    bool Complete(std::int64_t, const AttemptRecord&) override { return true; }
};

}  // namespace

TEST(StationSlotTest, ASlotIsFreeAgainOnlyAfterItsBootloaderWasSilentForThreeSeconds) {
    const struct {
        std::uint64_t silence;  // between two spans of answers, 500 ms each
        int attempts;
    } cases[] = {{kSlotFreeAfterSilenceMs - 10, 1}, {kSlotFreeAfterSilenceMs + 10, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.silence);
        VirtualClock clock;
        CountingAttemptLog records;
        CountingView view;
        Station station({}, records, view,
                        [](const StationDevice&, UpdateObserver&) { return UpdateOutcome{}; });
        ServeUdpSlot(
            station, view, "slot",
            [&] {
                return std::make_unique<ScriptedSlot>(
                    clock, station,
                    std::vector<std::pair<std::uint64_t, std::uint64_t>>{
                        {0, 500}, {500 + c.silence, 1000 + c.silence}});
            },
            clock);
        EXPECT_EQ(records.begun, c.attempts);
        EXPECT_EQ(view.arrived, c.attempts);
        EXPECT_EQ(view.left, c.attempts);
    }
}

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
                               {"XDG_STATE_HOME", files_.Path().string()}};
        return options;
    }
    FtdiSimServer& Plug(const std::string& serial, std::optional<std::uint8_t> reply = 0x11) {
        FtdiSimOptions o;
        o.serial = serial;
        o.bootloader.defaultReply = reply;
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

    // Three at once, one of them failing.
    Plug("ST02");
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

TEST_F(StationE2eTest, ASecondStopRecordsTheRunningUpdateAsInterrupted) {
    const std::string file = UpdateFile();
    SimOptions slow;
    slow.replyDelayMs = 500;  // the transfer outlasts both stops
    UdpSimServer device(slow, "127.0.21.3");
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    BackgroundChild station(FlashwrightProgram(),
                            {"station", file, "--link", "UDP", "--slots", "127.0.21.3", "--json"},
                            Options());
    ASSERT_TRUE(station.WaitForLine("\"event\":\"start\"", std::chrono::seconds(20)));
    station.Signal(SIGTERM);
    // Two signals sent at once would arrive as one: the second follows the first one's notice.
    ASSERT_TRUE(station.WaitForLine("stopping: no new devices", std::chrono::seconds(20)));
    station.Signal(SIGTERM);
    EXPECT_EQ(station.Wait(), 128 + SIGTERM);
    const ChildResult records = RunChild(FlashwrightProgram(), {"records", "--csv"}, Options());
    EXPECT_NE(records.out.find(",interrupted,"), std::string::npos) << records.out;
    EXPECT_NE(records.out.find("Error: interrupted by SIGTERM!"), std::string::npos);
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
