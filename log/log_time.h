#pragma once

#include <chrono>

#include "log/debug_log.h"

// The local time of day with milliseconds, as entry time stamps carry it.
LogTime LocalTimeNow();

// False for a time of day no clock can show (hour above 23, minute or second above 59).
bool IsPlausible(const LogTime& time);

// Milliseconds since the program started, for the exception file.
long long MillisecondsSinceStart();
