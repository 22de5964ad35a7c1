#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "sim/bootloader_sim.h"
#include "sim/pty_pair.h"
#include "sim/simulated_line.h"

// The simulator on a serial line: a pseudo-terminal pair whose far side the host opens as its
// port. The bytes from the host are a stream that the bootloader cuts into frames; each reply,
// the 5-byte synchronisation answer included, goes back as one write. The device command
// 0xFD 0x07 0x07 0xFE restarts the bootloader. With a baud rate the line's time is modelled
// (10 bits per byte): what the host wrote is taken only once it would have crossed the line,
// and every reply reaches the host only after its own time on the line.
class PtySimServer {
  public:
    static constexpr std::uint8_t kDeviceCommand[4] = {0xFD, 0x07, 0x07, 0xFE};

    using SummaryHandler = SimSummaryHandler;

    // baud 0: no line time. linkPath: a symbolic link to the port placed there (optional).
    PtySimServer(SimOptions options, unsigned baud = 0, std::string linkPath = {});
    ~PtySimServer();
    PtySimServer(const PtySimServer&) = delete;
    PtySimServer& operator=(const PtySimServer&) = delete;

    // Creates the pair (and the link); false with `error` set when that fails.
    bool Open(std::string& error);
    // The device path the host opens.
    const std::string& Path() const { return pty_.Path(); }

    // Serves until `stop` is set; every served update is handed to onSummary.
    void Run(const std::atomic<bool>& stop, const SummaryHandler& onSummary);
    // Opens and serves in a thread of its own until Stop or destruction.
    bool Start(std::string& error, SummaryHandler onSummary = {});
    void Stop();

    // How often the device command came.
    unsigned DeviceCommands() const;

    // Looks at the bootloader under the server's lock (safe while it serves).
    template <typename F>
    auto Inspect(F&& look) const {
        std::lock_guard lock(mutex_);
        return look(sim_);
    }

  private:
    using Clock = std::chrono::steady_clock;

    void TakeArrivals(Clock::time_point now);
    void Feed(std::span<const std::uint8_t> bytes, Clock::time_point at);
    void FeedStream(std::span<const std::uint8_t> bytes, Clock::time_point at);
    void ReportSessions(const SummaryHandler& onSummary, bool final);

    std::string linkPath_;
    PtyPair pty_;
    bool linkMade_ = false;

    mutable std::mutex mutex_;
    BootloaderSim sim_;
    unsigned deviceCommands_ = 0;

    SimulatedLine line_;
    Clock::time_point lastFed_{};
    std::vector<std::uint8_t> heldCommand_;  // a possible device command, not yet fed

    std::atomic<bool> stop_{false};
    std::thread thread_;
};
