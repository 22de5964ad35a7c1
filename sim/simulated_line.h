#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <span>
#include <vector>

struct pollfd;

// The serial line between the host and a simulated device, over a pseudo-terminal's master:
// bytes cross it one after the other at the line's speed, behind whatever is still crossing,
// and are taken, or written to the host, in one piece once their last bit has crossed.
// A point in time as the bootloader simulation counts it: milliseconds of the steady clock.
std::uint64_t SimMs(std::chrono::steady_clock::time_point t);

class SimulatedLine {
  public:
    using Clock = std::chrono::steady_clock;

    // Bytes from the host, the time their last bit has crossed the line, and the speed the host
    // had set when it sent them (none where the device does not look).
    struct Arrival {
        Clock::time_point at;
        std::optional<std::uint32_t> hostBaud;
        std::vector<std::uint8_t> bytes;
    };

    explicit SimulatedLine(unsigned baud) : baud_(baud) {}

    // Reads everything waiting on `master`.
    void Receive(int master, Clock::time_point now,
                 std::optional<std::uint32_t> hostBaud = std::nullopt);
    // The first arrival whose last bit has crossed by `now`, if any.
    std::optional<Arrival> TakeArrival(Clock::time_point now);
    // An answer made at `made`: it starts when the line is free and reaches the host one line
    // time later, in one write.
    void Depart(std::vector<std::uint8_t> bytes, Clock::time_point made);
    // Writes every answer due by `now` to `master`; with no master (-1) they are lost.
    void SendDue(int master, Clock::time_point now);
    // Waits until one of `fds` has input, the next arrival or answer is due, or `longest` has
    // passed.
    void Wait(std::span<pollfd> fds, Clock::duration longest) const;
    // Answers not yet sent are never sent (the device restarted).
    void DropDepartures() { departures_.clear(); }
    // Nothing is crossing any more (the device was unplugged or plugged in).
    void Clear();

  private:
    struct Departure {
        Clock::time_point at;
        std::vector<std::uint8_t> bytes;
    };

    const unsigned baud_;
    std::deque<Arrival> arrivals_;
    std::deque<Departure> departures_;
    Clock::time_point inboundFree_{};   // when the line from the host is free again
    Clock::time_point outboundFree_{};  // when the line to the host is free again
};
