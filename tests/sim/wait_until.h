#pragma once

#include <chrono>
#include <functional>
#include <thread>

// Polls until `done` holds, for at most two seconds: a test of a serving thread never hangs.
inline bool WaitUntil(const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
