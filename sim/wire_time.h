#pragma once

#include <chrono>
#include <cstddef>

// The time `bytes` bytes spend on a serial line at `baud`: 10 bits each (start bit, 8 data
// bits, stop bit). baud 0 models no line: zero.
inline std::chrono::steady_clock::duration WireTime(unsigned baud, std::size_t bytes) {
    if (baud == 0) {
        return std::chrono::steady_clock::duration::zero();
    }
    return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::nanoseconds(bytes * 10 * 1'000'000'000ull / baud));
}
