// The update benchmark: a 128 KiB image in frames of 276 bytes, sent by the real flashwright
// program to the simulated device over loopback. The protocol itself fixes how fast an update
// can be (10 ms after each frame, 1 ms after each acknowledgement, 75 ms for the handshake);
// this reports how close the program comes to that floor and how much processor time it needs.

#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sim/enc_maker.h"
#include "sim/udp_transport.h"

namespace {

constexpr std::size_t kImagePayload = 128 * 1024;
constexpr unsigned kFrameBody = 276;
constexpr double kPerFrameFloorMs = 10.0 + 1.0;
constexpr double kHandshakeFloorMs = 50.0 + 25.0;
constexpr double kRatioGoal = 1.03;
constexpr double kCpuShareGoal = 0.03;
constexpr const char* kAddress = "127.0.5.1";

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

}  // namespace

int main(int argc, char** argv) {
    const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
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
    const double floorMs = static_cast<double>(frames) * kPerFrameFloorMs + kHandshakeFloorMs;

    UdpSimServer device(SimOptions{}, kAddress);
    if (!device.Start(error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("update of %zu KiB in %zu frames of L = %u to %s; protocol floor %.0f ms\n",
                kImagePayload / 1024, frames, kFrameBody, kAddress, floorMs);
    std::vector<Run> results;
    for (int i = 0; i < runs; ++i) {
        const Run run = RunProgram({FLASHWRIGHT_PROGRAM, "UDP", kAddress, file});
        if (run.status != 0) {
            std::fprintf(stderr, "run %d: flashwright exited with status %d\n", i + 1, run.status);
            return 1;
        }
        std::printf("run %d: wall %.0f ms (ratio %.4f), cpu %.1f ms (%.2f%% of wall)\n", i + 1,
                    run.wallMs, run.wallMs / floorMs, run.cpuMs, 100.0 * run.cpuMs / run.wallMs);
        results.push_back(run);
    }
    device.Stop();
    std::filesystem::remove_all(folder);

    std::sort(results.begin(), results.end(),
              [](const Run& a, const Run& b) { return a.wallMs < b.wallMs; });
    const Run& median = results[results.size() / 2];
    const double ratio = median.wallMs / floorMs;
    const double share = median.cpuMs / median.wallMs;
    std::printf(
        "median: wall/floor ratio %.4f (goal <= %.2f) %s; cpu share %.2f%% (goal <= "
        "%.0f%%) %s\n",
        ratio, kRatioGoal, ratio <= kRatioGoal ? "met" : "MISSED", 100.0 * share,
        100.0 * kCpuShareGoal, share <= kCpuShareGoal ? "met" : "MISSED");
    return 0;
}
