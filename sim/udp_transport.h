#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/bootloader_sim.h"

// The simulator on a network: a UDP socket bound to an address (any of 127.0.0.0/8 in tests,
// or a real interface) and port 4107. Every datagram from the host is one unit for the
// bootloader; every reply, the 5-byte synchronisation answer included, goes back as one
// datagram. The text "Boot" restarts the device.
class UdpSimServer {
  public:
    static constexpr std::uint16_t kDefaultPort = 4107;
    static constexpr std::string_view kResetCommand = "Boot";

    using SummaryHandler = SimSummaryHandler;

    UdpSimServer(SimOptions options, std::string address, std::uint16_t port = kDefaultPort);
    ~UdpSimServer();
    UdpSimServer(const UdpSimServer&) = delete;
    UdpSimServer& operator=(const UdpSimServer&) = delete;

    // Binds the socket; false with `error` set when that fails.
    bool Bind(std::string& error);
    // Serves until `stop` is set; every served update is handed to onSummary.
    void Run(const std::atomic<bool>& stop, const SummaryHandler& onSummary);
    // Binds and serves in a thread of its own until Stop or destruction.
    bool Start(std::string& error, SummaryHandler onSummary = {});
    void Stop();

    // Looks at the bootloader under the server's lock (safe while it serves).
    template <typename F>
    auto Inspect(F&& look) const {
        std::lock_guard lock(mutex_);
        return look(sim_);
    }

  private:
    void ServeDatagrams(std::uint64_t nowMs);
    void SendDue(std::uint64_t nowMs);
    void ReportSessions(std::uint64_t nowMs, const SummaryHandler& onSummary, bool final);

    std::string address_;
    std::uint16_t port_;
    int fd_ = -1;
    mutable std::mutex mutex_;
    BootloaderSim sim_;

    // A reply waiting for its time, and the host it goes to.
    struct Pending {
        SimOutput output;
        std::uint32_t peerAddress = 0;  // network byte order
        std::uint16_t peerPort = 0;     // network byte order
    };
    std::vector<Pending> pending_;
    std::uint32_t peerAddress_ = 0;
    std::uint16_t peerPort_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

std::uint64_t SimNowMs();
