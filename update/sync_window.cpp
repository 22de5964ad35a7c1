#include "update/sync_window.h"

#include <charconv>

#include "log/text_format.h"

SyncWait SynchroniseWithin(const std::function<int()>& attempt, unsigned windowMs, unsigned pauseMs,
                           Clock& clock, UpdateObserver& observer) {
    const std::uint64_t start = clock.NowMs();
    while (attempt() != 0) {
        if (pauseMs > 0) {
            clock.Sleep(pauseMs);
        }
        const std::uint64_t elapsed = clock.NowMs() - start;
        if (elapsed > windowMs || observer.StopRequested()) {
            return {false, elapsed};
        }
        observer.WaitingForBootloader(elapsed);
    }
    return {true, clock.NowMs() - start};
}

SyncWait Synchronise(const std::function<int()>& attempt, const SyncRule& rule,
                     const RepeatRule& repeat, Clock& clock, UpdateObserver& observer) {
    switch (rule.kind) {
        case SyncRule::Kind::Window:
            return SynchroniseWithin(attempt, rule.windowMs, repeat.pauseMs, clock, observer);
        case SyncRule::Kind::SingleAttempt:
            return {attempt() == 0, 0};
        case SyncRule::Kind::UntilCancel:
            break;
    }
    // The attempts and the pauses may dispatch events, which is how a click on Cancel arrives.
    const bool pump = repeat.pauseDispatches && observer.DispatchesEvents();
    for (bool first = true;; first = false) {
        if ((!first || repeat.cancelBeforeFirstAttempt) && observer.Cancelled()) {
            return {false, 0};
        }
        if (attempt() == 0) {
            return {true, 0};
        }
        if (pump) {
            clock.PumpWait(repeat.pauseMs);
        } else {
            clock.Sleep(repeat.pauseMs);
        }
    }
}

std::string NoBootloaderText(std::uint64_t waitedMs) {
    return StrPrintf("Error: no bootloader answered within %llu s!",
                     static_cast<unsigned long long>(waitedMs / 1000));
}

std::optional<unsigned> ParseWaitSeconds(const std::string& text) {
    unsigned seconds = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (ec != std::errc() || end != text.data() + text.size() || seconds < 1 || seconds > 86400) {
        return std::nullopt;
    }
    return seconds * 1000;
}
