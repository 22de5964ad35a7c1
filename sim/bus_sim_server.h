#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "log/unique_fd.h"
#include "sim/bootloader_sim.h"
#include "sim/pty_pair.h"
#include "sim/simulated_line.h"

// What a simulated USB device on a bus folder is made of, whatever its application.
// The serial number a simulated device has unless told otherwise.
inline constexpr const char* kSimSerial = "FWSIM001";

// What a simulated device on a bus folder is: its name and serial number on the bus, whether it
// starts in its application instead of the bootloader, and its scripted plug changes.
struct BusSimSettings {
    std::string description;
    std::string serial;
    bool startInApplication = false;
    // A scripted unplug and replug, both counted from Start.
    std::optional<unsigned> unplugAfterMs;
    std::optional<unsigned> replugAfterMs;
    SimOptions bootloader;
    unsigned baud = 0;  // line time modelled at this rate (10 bits per byte); 0: none
};

// One simulated USB serial device on a bus folder (see links/simbus/bus_folder.h): a
// pseudo-terminal pair whose far side the host opens, announced by the device's file on the
// bus, served by a thread of its own. The device runs its application (the part a derived
// class supplies) or the bootloader at 115200 baud. It reads the line speed the host set on
// the terminal: bytes sent while it differs from the speed of the current mode are garbled, as
// a receiver at another rate sees them, and counted.
//
// A derived class must call Stop() in its destructor: the serving thread calls its hooks.
class BusSimServer {
  public:
    static constexpr std::uint32_t kBootloaderBaud = 115'200;

    using SummaryHandler = SimSummaryHandler;

    BusSimServer(const BusSimServer&) = delete;
    BusSimServer& operator=(const BusSimServer&) = delete;

    // Plugs the device in and serves until Stop; every served update goes to onSummary (on
    // the serving thread). False with `error` set when the device cannot be made.
    bool Start(std::string& error, SummaryHandler onSummary = {});
    // Stops serving and unplugs the device.
    void Stop();

    // Removes the device from the bus and closes its terminal: the host's open handle fails.
    void Unplug();
    // Plugs the device in again on a new terminal, restarted in its bootloader; false when
    // the terminal or the bus file cannot be made.
    bool Replug();

    bool Plugged() const;
    bool InBootloader() const;
    // The terminal the host opens (a new one after each replug).
    std::string TtyPath() const;
    // Bytes garbled because the host's line speed was not the device's.
    unsigned GarbledBytes() const;

    // Looks at the bootloader under the server's lock (safe while it serves).
    template <typename F>
    auto Inspect(F&& look) const {
        std::lock_guard lock(mutex_);
        return look(sim_);
    }

  protected:
    using Clock = std::chrono::steady_clock;

    struct ApplicationOutput {
        std::vector<std::vector<std::uint8_t>> answers;  // one write each
        bool enterBootloader = false;  // the bytes after the one that caused it are lost
    };

    BusSimServer(std::string busFolder, BusSimSettings settings);
    ~BusSimServer();

    // The application's part, each called under the server's lock.
    // The line speed the application expects; nothing when it takes any.
    virtual std::optional<std::uint32_t> ApplicationBaud() const = 0;
    virtual ApplicationOutput OnApplicationBytes(std::span<const std::uint8_t> bytes,
                                                 Clock::time_point at) = 0;
    // Time passes with nothing received (called on every turn of the serving loop).
    virtual void OnApplicationIdle(Clock::time_point) {}
    // A restart: the application forgets what it was receiving.
    virtual void ResetApplication() = 0;

    // Runs `look` under the server's lock, for what a derived class records.
    template <typename F>
    auto Locked(F&& look) const {
        std::lock_guard lock(mutex_);
        return look();
    }

  private:
    enum class PlugRequest { kNone, kUnplug, kReplug };

    void Serve(const SummaryHandler& onSummary);
    bool Request(PlugRequest request);
    void TakeRequest();
    void RunScript(Clock::time_point now);
    bool PlugIn(std::string& error);
    void PlugOut();
    void TakeArrivals(Clock::time_point now);
    void Feed(std::vector<std::uint8_t> bytes, std::optional<std::uint32_t> hostBaud,
              Clock::time_point at);
    void ReportSessions(const SummaryHandler& onSummary, bool final);

    const std::string busFolder_;
    const BusSimSettings settings_;

    // Touched by the serving thread only (or while it does not run).
    PtyPair pty_;
    UniqueFd wake_;  // an eventfd: a plug request is waiting
    SimulatedLine line_;
    Clock::time_point startedAt_{};
    bool unplugScripted_ = false;
    bool replugScripted_ = false;

    // What tests and the program look at.
    mutable std::mutex mutex_;
    BootloaderSim sim_;
    bool inBootloader_ = true;
    bool plugged_ = false;
    std::string ttyPath_;
    unsigned garbled_ = 0;

    // A plug change asked for by another thread, done by the serving thread.
    std::mutex requestMutex_;
    std::condition_variable requestDone_;
    PlugRequest request_ = PlugRequest::kNone;
    bool requestResult_ = false;

    std::atomic<bool> stop_{false};
    std::thread thread_;
};
