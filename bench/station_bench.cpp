// The station benchmark: the real flashwright program in station mode on a simulated FTDI bus.
// It measures how soon a device that arrives gets its first synchronisation attempt (the
// station watches the bus through inotify, so this is the time to notice the device, start
// its thread and open it), and whether 16 devices arriving at once take no longer than one:
// each runs on a thread of its own, and the line and the protocol's waits, not the processor,
// set the pace.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kArrivals = 11;
constexpr double kArrivalGoalMs = 20.0;
constexpr int kFleetSize = 16;
constexpr double kFleetRatioGoal = 1.1;
constexpr std::size_t kImagePayload = 8 * 1024;
// The devices model their line's time, as real ones on a USB serial converter have it.
constexpr unsigned kBaud = 115200;
constexpr auto kResultLimit = std::chrono::seconds(60);
// The job's hook takes this long after every attempt.
constexpr int kHookSeconds = 5;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The station program, its JSON events read from a pipe.
class StationProcess {
  public:
    explicit StationProcess(const std::vector<std::string>& options) {
        int ends[2] = {-1, -1};
        if (::pipe2(ends, O_CLOEXEC) != 0) {
            return;
        }
        out_ = ends[0];
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const std::string program = FLASHWRIGHT_PROGRAM;
        std::vector<std::string> args{program, "station"};
        args.insert(args.end(), options.begin(), options.end());
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
        ::close(ends[1]);
    }
    ~StationProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
    }
    // Waits for `count` more result events; false when they did not come in time.
    bool WaitForResults(int count) {
        const auto end = Clock::now() + kResultLimit;
        while (count > 0) {
            for (std::size_t nl; count > 0 && (nl = pending_.find('\n')) != std::string::npos;) {
                if (pending_.substr(0, nl).find("\"event\":\"result\"") != std::string::npos) {
                    --count;
                }
                pending_.erase(0, nl + 1);
            }
            if (count == 0) {
                break;
            }
            pollfd pfd{out_, POLLIN, 0};
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
            if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
                return false;
            }
            char buffer[4096];
            const ssize_t got = ::read(out_, buffer, sizeof buffer);
            if (got <= 0) {
                return false;
            }
            pending_.append(buffer, static_cast<std::size_t>(got));
        }
        return true;
    }

  private:
    pid_t pid_ = -1;
    int out_ = -1;
    std::string pending_;
};

std::unique_ptr<FtdiSimServer> Plug(const std::string& bus, const std::string& serial) {
    FtdiSimOptions options;
    options.serial = serial;
    options.baud = kBaud;
    auto device = std::make_unique<FtdiSimServer>(bus, options);
    std::string error;
    if (!device->Start(error)) {
        std::fprintf(stderr, "device %s: %s\n", serial.c_str(), error.c_str());
        std::exit(1);
    }
    return device;
}

// Arrival to the first synchronisation attempt, then one device against 16 at once, on the
// station the options start; false when a goal was missed or a result did not come.
bool Measure(const std::filesystem::path& bus, const std::vector<std::string>& options,
             const std::string& name) {
    bool ok = true;
    StationProcess station(options);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the station starts
    std::printf("%s\n", name.c_str());

    // Arrival to the first synchronisation attempt, one device after another.
    std::vector<double> arrivals;
    std::vector<std::unique_ptr<FtdiSimServer>> plugged;
    for (int i = 0; i < kArrivals && ok; ++i) {
        const auto start = Clock::now();
        plugged.push_back(Plug(bus.string(), name.substr(0, 3) + "ARR" + std::to_string(i)));
        while (plugged.back()->Inspect([](const BootloaderSim& s) { return s.SyncRequests(); }) ==
                   0 &&
               MsSince(start) < 5000) {
            std::this_thread::sleep_for(std::chrono::microseconds(100));
        }
        arrivals.push_back(MsSince(start));
        ok = station.WaitForResults(1);
    }
    const double arrival = Median(arrivals);
    std::printf(
        "  arrival to first synchronisation attempt: median %.1f ms over %d devices "
        "(goal <= %.0f ms)%s\n",
        arrival, kArrivals, kArrivalGoalMs, arrival <= kArrivalGoalMs ? "" : "  MISSED");
    ok = ok && arrival <= kArrivalGoalMs;

    // One device, then 16 at once: from the first arrival to the last result.
    auto start = Clock::now();
    auto single = Plug(bus.string(), name.substr(0, 3) + "ONE");
    ok = station.WaitForResults(1) && ok;
    const double one = MsSince(start);
    std::vector<std::unique_ptr<FtdiSimServer>> fleet;
    start = Clock::now();
    for (int i = 0; i < kFleetSize; ++i) {
        fleet.push_back(Plug(bus.string(), name.substr(0, 3) + "FLEET" + std::to_string(i)));
    }
    ok = station.WaitForResults(kFleetSize) && ok;
    const double all = MsSince(start);
    std::printf("  one device: %.0f ms; %d devices at once: %.0f ms, %.2f x (goal <= %.1f x)%s\n",
                one, kFleetSize, all, all / one, kFleetRatioGoal,
                all / one <= kFleetRatioGoal ? "" : "  MISSED");
    return ok && all / one <= kFleetRatioGoal;
}

// A job for the file on the FTDI bus that checks each device's id before its first frame and
// runs a hook that takes kHookSeconds after every attempt.
std::string WriteJob(const std::filesystem::path& dir, const std::string& file) {
    std::string sha256(64, '0');
    if (std::FILE* sum = ::popen(("sha256sum '" + file + "'").c_str(), "r")) {
        if (std::fread(sha256.data(), 1, sha256.size(), sum) != sha256.size()) {
            sha256.assign(64, '0');
        }
        ::pclose(sum);
    }
    const std::string job = (dir / "job.toml").string();
    if (std::FILE* out = std::fopen(job.c_str(), "w")) {
        std::fprintf(out,
                     "[job]\nname = \"bench\"\nfile = \"app.enc\"\nsha256 = \"%s\"\n"
                     "[station]\nlink = \"FTDI\"\n[expect]\ndevice_id = 1\n"
                     "[hook]\non_result = [\"/bin/sleep\", \"%d\"]\ntimeout_seconds = %d\n",
                     sha256.c_str(), kHookSeconds, kHookSeconds * 2);
        std::fclose(out);
    }
    return job;
}

}  // namespace

int main() {
    const std::filesystem::path dir = std::filesystem::temp_directory_path() /
                                      ("flashwright-station-bench-" + std::to_string(::getpid()));
    const std::filesystem::path bus = dir / "bus";
    std::filesystem::create_directories(bus);
    const std::string file = (dir / "app.enc").string();
    std::string error;
    if (!WriteUpdateFile(file, PseudoRandomBytes(kImagePayload, 3), 276, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    ::setenv("FLASHWRIGHT_FTDI_BUS", bus.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", dir.c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    ::setenv("XDG_STATE_HOME", dir.c_str(), 1);
    bool ok = Measure(bus, {file, "--link", "FTDI", "--json"}, "the station");
    // The same with its figures served, right after, for the cost of counting them.
    ok = Measure(bus, {file, "--link", "FTDI", "--json", "--metrics", "127.0.107.60:9110"},
                 "the station with --metrics") &&
         ok;
    ok = Measure(bus, {"--job", WriteJob(dir, file), "--json"},
                 "a job: the device's id checked, a hook of " + std::to_string(kHookSeconds) +
                     " s after every attempt") &&
         ok;
    std::filesystem::remove_all(dir);
    return ok ? 0 : 1;
}
