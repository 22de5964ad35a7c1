// The network link's synchronisation attempt against a device that does not answer: 50 ms of
// waiting for the answer, then one receive bounded by the socket's 5 ms. The attempt time is
// what a user waiting for a restarting device pays per attempt, so the receive bound must hold.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "links/udp/communication_udp.h"

namespace {

constexpr const char* kAddress = "127.0.6.1";
constexpr double kAnswerWaitMs = 50.0;
constexpr double kReceiveBoundMs = 5.0;

// A bound socket on the device's port that never answers, so the link's sends succeed.
int SilentDevice() {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(CCommunication_UDP1::kDevicePort);
    ::inet_pton(AF_INET, kAddress, &local.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    const int attempts = argc > 1 ? std::max(1, std::atoi(argv[1])) : 40;
    // As the program itself does: precise wake-ups for the protocol's short waits.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const int device = SilentDevice();
    NullLog log;
    CCommunication_UDP1 link(log);
    if (link.Open_Port(kAddress) != 0) {
        std::fprintf(stderr, "cannot open the link to %s\n", kAddress);
        return 1;
    }
    std::vector<double> times;
    for (int i = 0; i < attempts; ++i) {
        const auto start = std::chrono::steady_clock::now();
        const int r = link.SynchroniseBootloader();
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        if (r != -3) {
            std::fprintf(stderr, "attempt %d: expected -3 (nothing received), got %d\n", i + 1, r);
            return 1;
        }
    }
    ::close(device);
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    const double receive = median - kAnswerWaitMs;
    std::printf(
        "failed synchronisation attempt (silent device, %d attempts): min %.2f ms, median %.2f "
        "ms, max %.2f ms; receive wait %.2f ms (bound %.0f ms) %s\n",
        attempts, times.front(), median, times.back(), receive, kReceiveBoundMs,
        receive <= kReceiveBoundMs + 0.5 ? "kept" : "EXCEEDED");
    return 0;
}
