// The update benchmark: a 128 KiB image in frames of 276 bytes, sent by the real flashwright
// program to the simulated device over loopback, and over a pseudo-terminal with the device
// modelling a 115200 baud line. The protocol itself fixes how fast an update can be (10 ms
// after each frame, 1 ms after each acknowledgement, 75 ms for the handshake; on the serial
// line also each frame's time on the wire); this reports how close the program comes to that
// floor and how much processor time it needs. Arguments: the runs per case (3), then the cases
// to measure (udp, fleet, serial, ftdi, usbxpress; all when none is named).

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/enc_maker.h"
#include "sim/ftdi_transport.h"
#include "sim/pty_transport.h"
#include "sim/udp_transport.h"
#include "sim/usbxpress_transport.h"

namespace {

constexpr std::size_t kImagePayload = 128 * 1024;
constexpr unsigned kFrameBody = 276;
constexpr double kPerFrameFloorMs = 10.0 + 1.0;
constexpr double kHandshakeFloorMs = 50.0 + 25.0;
constexpr double kRatioGoal = 1.03;
constexpr double kSerialRatioGoal = 1.05;
constexpr unsigned kSerialBaud = 115200;
constexpr double kCpuShareGoal = 0.03;
constexpr const char* kAddress = "127.0.5.1";
// Hunting synchronisation: 5 ms before the last four bytes, 50 ms after the start byte.
constexpr double kFtdiHandshakeFloorMs = 5.0 + 50.0;
constexpr double kFtdiRatioGoal = 1.05;
constexpr int kFleetSize = 16;
constexpr double kFleetRatioGoal = 1.15;
constexpr double kFleetCpuShareGoal = 0.05;

struct Run {
    int status = -1;
    double wallMs = 0;
    double cpuMs = 0;
};

double Ms(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1000.0 + static_cast<double>(t.tv_usec) / 1000.0;
}

// Runs the program once; wall time from start to exit, processor time from the kernel.
Run RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    Run run;
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    if (::posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return run;
    }
    int wstatus = 0;
    rusage usage{};
    ::wait4(pid, &wstatus, 0, &usage);
    run.wallMs =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    run.cpuMs = Ms(usage.ru_utime) + Ms(usage.ru_stime);
    run.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return run;
}

// Updates the device `runs` times with the program's arguments `args` and reports each run and
// the median against the floor; returns the median run, nothing when a run failed.
std::optional<Run> Measure(const std::vector<std::string>& args, int runs, double floorMs,
                           double ratioGoal) {
    std::vector<Run> results;
    for (int i = 0; i < runs; ++i) {
        const Run run = RunProgram(args);
        if (run.status != 0) {
            std::fprintf(stderr, "run %d: flashwright exited with status %d\n", i + 1, run.status);
            return std::nullopt;
        }
        std::printf("run %d: wall %.0f ms (ratio %.4f), cpu %.1f ms (%.2f%% of wall)\n", i + 1,
                    run.wallMs, run.wallMs / floorMs, run.cpuMs, 100.0 * run.cpuMs / run.wallMs);
        results.push_back(run);
    }
    std::sort(results.begin(), results.end(),
              [](const Run& a, const Run& b) { return a.wallMs < b.wallMs; });
    const Run& median = results[results.size() / 2];
    const double ratio = median.wallMs / floorMs;
    const double share = median.cpuMs / median.wallMs;
    std::printf(
        "median: wall/floor ratio %.4f (goal <= %.2f) %s; cpu share %.2f%% (goal <= "
        "%.0f%%) %s\n",
        ratio, ratioGoal, ratio <= ratioGoal ? "met" : "MISSED", 100.0 * share,
        100.0 * kCpuShareGoal, share <= kCpuShareGoal ? "met" : "MISSED");
    return median;
}

// The fleet case: one run updates 16 network devices at once, each on its own address and in
// its own thread of the program; against a device alone, it should take hardly longer.
bool MeasureFleet(const std::string& file, double singleWallMs, int runs) {
    std::vector<std::unique_ptr<UdpSimServer>> devices;
    std::string addresses;
    for (int i = 1; i <= kFleetSize; ++i) {
        const std::string address = "127.0.12." + std::to_string(i);
        devices.push_back(std::make_unique<UdpSimServer>(SimOptions{}, address));
        std::string error;
        if (!devices.back()->Start(error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return false;
        }
        addresses += (i > 1 ? "," : "") + address;
    }
    std::printf("fleet: %d devices at once, against %.0f ms for one alone\n", kFleetSize,
                singleWallMs);
    std::vector<Run> results;
    for (int i = 0; i < runs; ++i) {
        const Run run = RunProgram({FLASHWRIGHT_PROGRAM, "UDP", addresses, file});
        if (run.status != 0) {
            std::fprintf(stderr, "fleet run %d: flashwright exited with status %d\n", i + 1,
                         run.status);
            return false;
        }
        std::printf("fleet run %d: wall %.0f ms (%.4f of one device), cpu %.1f ms\n", i + 1,
                    run.wallMs, run.wallMs / singleWallMs, run.cpuMs);
        results.push_back(run);
    }
    std::sort(results.begin(), results.end(),
              [](const Run& a, const Run& b) { return a.wallMs < b.wallMs; });
    const Run& median = results[results.size() / 2];
    const double ratio = median.wallMs / singleWallMs;
    const double share = median.cpuMs / median.wallMs / kFleetSize;
    std::printf(
        "fleet median: wall %.4f of one device (goal <= %.2f) %s; cpu share %.2f%% per device "
        "(goal < %.0f%%) %s\n",
        ratio, kFleetRatioGoal, ratio <= kFleetRatioGoal ? "met" : "MISSED", 100.0 * share,
        100.0 * kFleetCpuShareGoal, share < kFleetCpuShareGoal ? "met" : "MISSED");
    return true;
}

// Time on a serial line for `bytes` bytes of 10 bits each.
double WireMs(std::size_t bytes) {
    return static_cast<double>(bytes) * 10.0 * 1000.0 / kSerialBaud;
}

// The serial case: the floor adds every frame's and the handshake's time on the wire.
bool MeasureSerial(const std::string& file, std::size_t frames, int runs) {
    PtySimServer device(SimOptions{}, kSerialBaud);
    std::string error;
    if (!device.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    const std::size_t lastBody = kImagePayload - (frames - 1) * kFrameBody;
    const double floorMs =
        static_cast<double>(frames - 1) * (WireMs(2 + kFrameBody) + kPerFrameFloorMs) +
        WireMs(2 + lastBody) + kPerFrameFloorMs + kHandshakeFloorMs + WireMs(1 + 5 + 1);
    std::printf(
        "\nupdate of %zu KiB in %zu frames of L = %u over a pseudo-terminal at %u baud "
        "(modelled); floor %.0f ms\n",
        kImagePayload / 1024, frames, kFrameBody, kSerialBaud, floorMs);
    const std::optional<Run> median =
        Measure({FLASHWRIGHT_PROGRAM, "COM", device.Path(), file}, runs, floorMs, kSerialRatioGoal);
    if (median) {
        // On a real line the 10 ms wait after a frame passes while the frame is still on the
        // wire, so the time an update cannot beat is the frame's and its reply's time on the
        // line plus the 1 ms after the acknowledgement.
        const double tightMs = static_cast<double>(frames) * (WireMs(1) + 1.0) +
                               WireMs(kImagePayload + 2 * frames) + kHandshakeFloorMs +
                               WireMs(1 + 5 + 1);
        std::printf("median against the line-bound floor of %.0f ms: ratio %.4f\n", tightMs,
                    median->wallMs / tightMs);
    }
    return median.has_value();
}

// The FTDI case: a simulated device on a bus folder with 115200 baud modelled. The link does
// not wait after a frame: the floor is each frame's and its reply's wire time plus the 1 ms
// after the acknowledgement, and the handshake.
bool MeasureFtdi(const std::string& file, const std::filesystem::path& folder, std::size_t frames,
                 int runs) {
    const std::filesystem::path bus = folder / "bus";
    std::filesystem::create_directories(bus);
    FtdiSimOptions options;
    options.baud = kSerialBaud;
    FtdiSimServer device(bus.string(), options);
    std::string error;
    if (!device.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    ::setenv("FLASHWRIGHT_FTDI_BUS", bus.c_str(), 1);
    const double floorMs = static_cast<double>(frames) * (WireMs(1) + 1.0) +
                           WireMs(kImagePayload + 2 * frames) + kFtdiHandshakeFloorMs +
                           WireMs(1 + 5 + 1);
    std::printf(
        "\nupdate of %zu KiB in %zu frames of L = %u through a simulated FTDI device at %u baud "
        "(modelled); floor %.0f ms\n",
        kImagePayload / 1024, frames, kFrameBody, kSerialBaud, floorMs);
    const bool measured =
        Measure({FLASHWRIGHT_PROGRAM, "FTDI", options.serial, file}, runs, floorMs, kFtdiRatioGoal)
            .has_value();
    ::unsetenv("FLASHWRIGHT_FTDI_BUS");
    return measured;
}

// The USBXpress case: a simulated device on a bus folder with 115200 baud modelled; the link
// does not wait after a frame either, so the floor is that of the FTDI case.
bool MeasureUsbXpress(const std::string& file, const std::filesystem::path& folder,
                      std::size_t frames, int runs) {
    const std::filesystem::path bus = folder / "usb-bus";
    std::filesystem::create_directories(bus);
    UsbXpressSimOptions options;
    options.baud = kSerialBaud;
    UsbXpressSimServer device(bus.string(), options);
    std::string error;
    if (!device.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return false;
    }
    ::setenv("FLASHWRIGHT_USBXPRESS_BUS", bus.c_str(), 1);
    const double floorMs = static_cast<double>(frames) * (WireMs(1) + 1.0) +
                           WireMs(kImagePayload + 2 * frames) + kFtdiHandshakeFloorMs +
                           WireMs(1 + 5 + 1);
    std::printf(
        "\nupdate of %zu KiB in %zu frames of L = %u through a simulated USBXpress device at %u "
        "baud (modelled); floor %.0f ms\n",
        kImagePayload / 1024, frames, kFrameBody, kSerialBaud, floorMs);
    const bool measured =
        Measure({FLASHWRIGHT_PROGRAM, "USBX", options.serial, file}, runs, floorMs, kFtdiRatioGoal)
            .has_value();
    ::unsetenv("FLASHWRIGHT_USBXPRESS_BUS");
    return measured;
}

// The cases a run measures: those named after the run count, every case when none is named.
struct Cases {
    bool udp = true, fleet = true, serial = true, ftdi = true, usbxpress = true;
};

std::optional<Cases> ParseCases(int argc, char** argv) {
    if (argc <= 2) {
        return Cases{};
    }
    Cases cases{false, false, false, false, false};
    for (int i = 2; i < argc; ++i) {
        const std::string name = argv[i];
        bool* chosen = name == "udp"         ? &cases.udp
                       : name == "fleet"     ? &cases.fleet
                       : name == "serial"    ? &cases.serial
                       : name == "ftdi"      ? &cases.ftdi
                       : name == "usbxpress" ? &cases.usbxpress
                                             : nullptr;
        if (chosen == nullptr) {
            std::fprintf(stderr,
                         "usage: flashwright_update_bench [runs] [udp|fleet|serial|ftdi|usbxpress "
                         "...]\n");
            return std::nullopt;
        }
        *chosen = true;
    }
    return cases;
}

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    const std::optional<Cases> cases = ParseCases(argc, argv);
    if (!cases) {
        return 2;
    }
    const auto folder = std::filesystem::temp_directory_path() /
                        ("flashwright-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "image-128k.enc").string();
    std::string error;
    if (!WriteUpdateFile(file, PseudoRandomBytes(kImagePayload, 128), kFrameBody, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const std::size_t frames = (kImagePayload + kFrameBody - 1) / kFrameBody;
    bool measured = true;
    // The fleet is measured against a device alone, so it needs the single device's run.
    if (cases->udp || cases->fleet) {
        const double floorMs = static_cast<double>(frames) * kPerFrameFloorMs + kHandshakeFloorMs;
        UdpSimServer device(SimOptions{}, kAddress);
        if (!device.Start(error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        std::printf("update of %zu KiB in %zu frames of L = %u to %s; protocol floor %.0f ms\n",
                    kImagePayload / 1024, frames, kFrameBody, kAddress, floorMs);
        const std::optional<Run> single =
            Measure({FLASHWRIGHT_PROGRAM, "UDP", kAddress, file}, runs, floorMs, kRatioGoal);
        device.Stop();
        measured = single && (!cases->fleet || MeasureFleet(file, single->wallMs, runs));
    }
    measured = measured && (!cases->serial || MeasureSerial(file, frames, runs));
    measured = measured && (!cases->ftdi || MeasureFtdi(file, folder, frames, runs));
    measured = measured && (!cases->usbxpress || MeasureUsbXpress(file, folder, frames, runs));
    std::filesystem::remove_all(folder);
    return measured ? 0 : 1;
}
