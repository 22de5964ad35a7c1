#pragma once

#include <chrono>
#include <string>

// A moment as the records keep it: ISO 8601 in UTC with milliseconds and a trailing Z
// ("2026-12-08T03:04:05.123Z"), so that text order is time order.
std::string UtcTimestamp(std::chrono::system_clock::time_point when);
std::string UtcNow();
