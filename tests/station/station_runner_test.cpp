// The station's runner without a program around it: when a fixture slot is free again, how its
// attempts' threads end when a second stop comes while they run, and a limit on attempts.

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <csignal>
#include <mutex>
#include <thread>

#include "station/fixture_slot.h"
#include "station/slot_visit.h"
#include "support/virtual_clock.h"

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
    std::atomic<int> arrived = 0, left = 0, results = 0, passed = 0;
    void Arrived(const std::string&) override { ++arrived; }
    void Left(const std::string&) override { ++left; }
    std::unique_ptr<UpdateObserver> Attempt(const std::string&) override {
        return std::make_unique<UpdateObserver>();
    }
    void Result(const std::string&, int exitCode, const std::string&, bool) override {
        passed += exitCode == 0 ? 1 : 0;
        ++results;
    }
    void Tally(const StationTally&) override {}
    void Problem(const std::string&) override {}
};

// Counts the attempts the station begins and completes; every write succeeds.
class CountingAttemptLog final : public AttemptLog {
  public:
    std::atomic<int> begun = 0, completed = 0;
    std::optional<std::int64_t> Begin(const AttemptRecord&) override { return ++begun; }
    bool Complete(std::int64_t, const AttemptRecord&) override {
        ++completed;
        return true;
    }
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
        ServeSlot(station, view, "slot",
                  NetworkSlotProbe("slot",
                                   [&] {
                                       return std::make_unique<ScriptedSlot>(
                                           clock, station,
                                           std::vector<std::pair<std::uint64_t, std::uint64_t>>{
                                               {0, 500}, {500 + c.silence, 1000 + c.silence}});
                                   }),
                  clock);
        EXPECT_EQ(records.begun, c.attempts);
        EXPECT_EQ(view.arrived, c.attempts);
        EXPECT_EQ(view.left, c.attempts);
    }
}

// Eight attempts on threads of their own; the second stop comes while some are still running
// and others end at that moment. Each is completed exactly once, as interrupted or with its own
// outcome, and the station reports the stop's status.
TEST(StationThreadsTest, ASecondStopCompletesEveryRunningAttemptOnce) {
    std::mutex mutex;
    std::condition_variable changed;
    int started = 0;
    bool release = false;
    CountingAttemptLog records;
    CountingView view;
    {
        Station station({}, records, view, [&](const StationDevice& device, UpdateObserver& o) {
            std::unique_lock hold(mutex);
            ++started;
            changed.notify_all();
            // Half end by themselves as the stop comes; the others wait for its Cancel.
            const bool waitsForCancel = device.id.back() % 2 == 0;
            changed.wait(hold, [&] { return release || (waitsForCancel && o.Cancelled()); });
            return UpdateOutcome{waitsForCancel ? -1 : 0, "done"};
        });
        std::vector<StationDevice> present;
        for (char c = '0'; c < '8'; ++c) {
            present.push_back({std::string("D") + c, ""});
        }
        station.BusListing(present);
        {
            std::unique_lock hold(mutex);
            changed.wait(hold, [&] { return started == 8; });
        }
        std::jthread ending([&] {
            const std::lock_guard hold(mutex);
            release = true;
            changed.notify_all();
        });
        station.Cancel(SIGTERM);
        {
            const std::lock_guard hold(mutex);  // a waiting update sees Cancelled() now
            changed.notify_all();
        }
        ending.join();
    }  // every attempt's thread has ended
    EXPECT_EQ(records.begun, 8);
    EXPECT_EQ(records.completed, 8);
    EXPECT_EQ(view.results, 8);
}

// A lot that lacks two passes, six devices at once: the devices beyond the two running wait,
// and once two have passed the rest are never begun. With failures the waiting ones take their
// turn, and still no more than two pass.
TEST(StationThreadsTest, ALimitOnAttemptsNeverLetsTheLotTakeMorePassesThanItLacks) {
    constexpr int kLacking = 2;
    for (const bool someFail : {false, true}) {
        SCOPED_TRACE(someFail);
        std::atomic<int> passed = 0;
        CountingAttemptLog records;
        CountingView view;
        {
            Station station({}, records, view, [&](const StationDevice& device, UpdateObserver&) {
                const bool fails = someFail && device.id.back() % 2 == 0;
                return UpdateOutcome{fails ? -1 : 0, "done"};
            });
            station.LimitAttempts([&](int started) { return passed + started < kLacking; });
            station.OnAttemptEnded([&] {
                passed = view.passed.load();
                if (passed >= kLacking) {
                    station.StopTaking();
                }
            });
            std::vector<StationDevice> present;
            for (char c = '0'; c < '6'; ++c) {
                present.push_back({std::string("D") + c, ""});
            }
            station.BusListing(present);
        }  // every attempt's thread has ended, the waiting ones when the station stopped taking
        EXPECT_EQ(view.passed, kLacking);
        EXPECT_EQ(records.completed, records.begun);
        if (!someFail) {
            EXPECT_EQ(records.begun, kLacking);
        }
    }
}
