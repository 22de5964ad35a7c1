#include "cli/sync_window.h"

#include <charconv>

#include "log/text_format.h"

bool SynchroniseWithin(const std::function<int()>& attempt, unsigned windowMs, unsigned pauseMs,
                       Clock& clock, UpdateObserver& observer) {
    const std::uint64_t start = clock.NowMs();
    while (attempt() != 0) {
        if (pauseMs > 0) {
            clock.Sleep(pauseMs);
        }
        const std::uint64_t elapsed = clock.NowMs() - start;
        if (elapsed > windowMs) {
            return false;
        }
        observer.WaitingForBootloader(elapsed);
    }
    return true;
}

std::string NoBootloaderText(unsigned windowMs) {
    return StrPrintf("Error: no bootloader answered within %u s!", windowMs / 1000);
}

std::optional<unsigned> ParseWaitSeconds(const std::string& text) {
    unsigned seconds = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (ec != std::errc() || end != text.data() + text.size() || seconds < 1 || seconds > 86400) {
        return std::nullopt;
    }
    return seconds * 1000;
}
