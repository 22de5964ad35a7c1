#include "cli/sync_window.h"

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
        if (elapsed > windowMs) {
            return {false, elapsed};
        }
        observer.WaitingForBootloader(elapsed);
    }
    return {true, clock.NowMs() - start};
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
