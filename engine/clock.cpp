#include "engine/clock.h"

#include <chrono>
#include <thread>
#include <utility>

namespace {

// A wait that an installed function may replace; a plain sleep otherwise.
struct WaitHook {
    std::function<void(unsigned)> wait;

    void Run(unsigned ms) const {
        if (wait) {
            wait(ms);
        } else {
            SleepMs(ms);
        }
    }
};

WaitHook& PumpHook() {
    static WaitHook hook;
    return hook;
}

WaitHook& QuietHook() {
    static WaitHook hook;
    return hook;
}

}  // namespace

std::uint64_t SystemClock::NowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

void SystemClock::Sleep(unsigned ms) {
    SleepMs(ms);
}

void SystemClock::PumpWait(unsigned ms) {
    ::PumpWait(ms);
}

void SystemClock::QuietWait(unsigned ms) {
    ::QuietWait(ms);
}

SystemClock& DefaultClock() {
    static SystemClock clock;
    return clock;
}

void SleepMs(unsigned ms) {
    // Sleep to an absolute deadline so a woken-early sleep does not shorten the wait.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    std::this_thread::sleep_until(deadline);
}

void PumpWait(unsigned ms) {
    PumpHook().Run(ms);
}

void SetPumpWaitHook(std::function<void(unsigned)> hook) {
    PumpHook().wait = std::move(hook);
}

void QuietWait(unsigned ms) {
    QuietHook().Run(ms);
}

void SetQuietWaitHook(std::function<void(unsigned)> hook) {
    QuietHook().wait = std::move(hook);
}
