#include "sim/simulated_line.h"

#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <array>

#include "sim/wire_time.h"

void SimulatedLine::Receive(int master, Clock::time_point now,
                            std::optional<std::uint32_t> hostBaud) {
    std::array<std::uint8_t, 4096> buffer{};
    for (;;) {
        const ssize_t got = ::read(master, buffer.data(), buffer.size());
        if (got <= 0) {
            return;  // nothing more waiting
        }
        const Clock::time_point start = std::max(now, inboundFree_);
        inboundFree_ = start + WireTime(baud_, static_cast<std::size_t>(got));
        arrivals_.push_back({inboundFree_, hostBaud, {buffer.begin(), buffer.begin() + got}});
    }
}

std::optional<SimulatedLine::Arrival> SimulatedLine::TakeArrival(Clock::time_point now) {
    if (arrivals_.empty() || arrivals_.front().at > now) {
        return std::nullopt;
    }
    Arrival arrival = std::move(arrivals_.front());
    arrivals_.pop_front();
    return arrival;
}

void SimulatedLine::Depart(std::vector<std::uint8_t> bytes, Clock::time_point made) {
    const Clock::time_point start = std::max(made, outboundFree_);
    outboundFree_ = start + WireTime(baud_, bytes.size());
    departures_.push_back({outboundFree_, std::move(bytes)});
}

void SimulatedLine::SendDue(int master, Clock::time_point now) {
    if (departures_.empty() || departures_.front().at > now) {
        return;
    }
    // Answers due by now are on the host's side of the line together: one write, so that no
    // scheduling between two writes lets the host see a reply without what came right after it.
    std::vector<std::uint8_t> due = std::move(departures_.front().bytes);
    departures_.pop_front();
    while (!departures_.empty() && departures_.front().at <= now) {
        const std::vector<std::uint8_t>& bytes = departures_.front().bytes;
        due.insert(due.end(), bytes.begin(), bytes.end());
        departures_.pop_front();
    }
    if (master >= 0) {
        [[maybe_unused]] const ssize_t written = ::write(master, due.data(), due.size());
    }
}

std::uint64_t SimMs(std::chrono::steady_clock::time_point t) {
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count());
}

void SimulatedLine::Wait(std::span<pollfd> fds, Clock::duration longest) const {
    const Clock::time_point now = Clock::now();
    Clock::time_point next = now + longest;
    if (!arrivals_.empty()) {
        next = std::min(next, arrivals_.front().at);
    }
    if (!departures_.empty()) {
        next = std::min(next, departures_.front().at);
    }
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                        std::max(next - now, Clock::duration::zero()))
                        .count();
    const timespec timeout{static_cast<time_t>(ns / 1'000'000'000),
                           static_cast<long>(ns % 1'000'000'000)};
    ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
}

void SimulatedLine::Clear() {
    arrivals_.clear();
    departures_.clear();
}
