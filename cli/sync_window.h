#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "cli/update_observer.h"
#include "engine/clock.h"

// How long the command lines keep asking the bootloader to synchronise, unless --wait says
// otherwise (for devices the user must power-cycle by hand).
inline constexpr unsigned kCommandLineSyncWindowMs = 10000;

struct SyncWait {
    bool answered = false;
    // From the first attempt to the end of the last: more than the window when the last
    // attempt ran past it (an FTDI or USBXpress attempt takes seconds).
    std::uint64_t waitedMs = 0;
};

// Repeats the attempt until it returns 0 or the window has passed, pausing `pauseMs` (a plain
// sleep) after each failed attempt and telling the observer how long it has waited.
SyncWait SynchroniseWithin(const std::function<int()>& attempt, unsigned windowMs, unsigned pauseMs,
                           Clock& clock, UpdateObserver& observer);

// The final message when no bootloader answered: the time actually waited, in whole seconds.
std::string NoBootloaderText(std::uint64_t waitedMs);

// "--wait SECONDS": the window in milliseconds; nothing for a value that is no whole number
// of seconds from 1 to 86400.
std::optional<unsigned> ParseWaitSeconds(const std::string& text);
