#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/clock.h"
#include "update/update_observer.h"

// How long the command lines keep asking the bootloader to synchronise, unless --wait says
// otherwise (for devices the user must power-cycle by hand).
inline constexpr unsigned kCommandLineSyncWindowMs = 10000;

// How long a front end keeps asking the bootloader to synchronise.
struct SyncRule {
    enum class Kind {
        Window,         // the command lines: until the window has passed
        UntilCancel,    // the pages: until the user cancels the state message
        SingleAttempt,  // the USB I page: one attempt
    };
    Kind kind = Kind::Window;
    unsigned windowMs = kCommandLineSyncWindowMs;
};

// A link's repeat rule: the pause after each failed attempt, whether the pause dispatches the
// front end's events (when its observer dispatches any), and, when waiting until Cancel, whether
// Cancel is looked at before the first attempt or only after a failed one.
struct RepeatRule {
    unsigned pauseMs = 0;
    bool pauseDispatches = false;
    bool cancelBeforeFirstAttempt = false;
};

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

// Synchronises as the front end's rule says with the link's repeat rule. Ends unanswered when
// the window passed, the single attempt failed or the user cancelled.
SyncWait Synchronise(const std::function<int()>& attempt, const SyncRule& rule,
                     const RepeatRule& repeat, Clock& clock, UpdateObserver& observer);

// The final message when no bootloader answered: the time actually waited, in whole seconds.
std::string NoBootloaderText(std::uint64_t waitedMs);

// "--wait SECONDS": the window in milliseconds; nothing for a value that is no whole number
// of seconds from 1 to 86400.
std::optional<unsigned> ParseWaitSeconds(const std::string& text);
