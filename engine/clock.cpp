#include "engine/clock.h"

#include <chrono>
#include <thread>
#include <utility>

namespace {

std::function<void(unsigned)>& Hook() {
    static std::function<void(unsigned)> hook;
    return hook;
}

std::function<void(unsigned)>& QuietHook() {
    static std::function<void(unsigned)> hook;
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
    if (Hook()) {
        Hook()(ms);
    } else {
        SleepMs(ms);
    }
}

void SetPumpWaitHook(std::function<void(unsigned)> hook) {
    Hook() = std::move(hook);
}

void QuietWait(unsigned ms) {
    if (QuietHook()) {
        QuietHook()(ms);
    } else {
        SleepMs(ms);
    }
}

void SetQuietWaitHook(std::function<void(unsigned)> hook) {
    QuietHook() = std::move(hook);
}
