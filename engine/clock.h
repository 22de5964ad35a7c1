#pragma once

#include <cstdint>
#include <functional>

// Time as the protocol sees it: a millisecond clock, a plain sleep, a wait that keeps the
// user interface alive, and one that keeps it painted without taking input. Tests inject a
// virtual clock so time-outs run instantly.
class Clock {
  public:
    virtual ~Clock() = default;
    virtual std::uint64_t NowMs() = 0;
    virtual void Sleep(unsigned ms) = 0;     // blocks the thread, dispatches nothing
    virtual void PumpWait(unsigned ms) = 0;  // dispatches the thread's events while it waits
    // Dispatches the events that are not user input (paint, the desktop's requests) while it
    // waits; with nothing to dispatch, a plain sleep.
    virtual void QuietWait(unsigned ms) { Sleep(ms); }
};

// Real time: a monotonic clock; PumpWait goes through the installed hook.
class SystemClock final : public Clock {
  public:
    std::uint64_t NowMs() override;
    void Sleep(unsigned ms) override;
    void PumpWait(unsigned ms) override;
    void QuietWait(unsigned ms) override;
};

SystemClock& DefaultClock();

// Waits ms milliseconds. Without a user interface this is a plain sleep; the desktop
// application installs a wait that runs its event loop until the deadline.
void PumpWait(unsigned ms);

// Installs the waiting function PumpWait uses; an empty function restores the plain sleep.
void SetPumpWaitHook(std::function<void(unsigned)> hook);

// Waits ms milliseconds. Without a user interface this is a plain sleep; the desktop
// application installs a wait that keeps its windows painted but takes no user input.
void QuietWait(unsigned ms);

// Installs the waiting function QuietWait uses; an empty function restores the plain sleep.
void SetQuietWaitHook(std::function<void(unsigned)> hook);

// A precise plain sleep of ms milliseconds.
void SleepMs(unsigned ms);
