#pragma once

#include <functional>
#include <optional>
#include <string>

#include "cli/update_observer.h"
#include "engine/clock.h"

// How long the command lines keep asking the bootloader to synchronise, unless --wait says
// otherwise (for devices the user must power-cycle by hand).
inline constexpr unsigned kCommandLineSyncWindowMs = 10000;

// Repeats the attempt until it returns 0 or the window has passed, pausing `pauseMs` (a plain
// sleep) after each failed attempt and telling the observer how long it has waited. True when
// the bootloader answered.
bool SynchroniseWithin(const std::function<int()>& attempt, unsigned windowMs, unsigned pauseMs,
                       Clock& clock, UpdateObserver& observer);

// The final message when no bootloader answered within the window.
std::string NoBootloaderText(unsigned windowMs);

// "--wait SECONDS": the window in milliseconds; nothing for a value that is no whole number
// of seconds from 1 to 86400.
std::optional<unsigned> ParseWaitSeconds(const std::string& text);
