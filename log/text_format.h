#pragma once

#include <string>
#include <string_view>

#include "log/log_sink.h"

// printf-style formatting into a std::string; the system's texts are printf formats.
std::string StrPrintf(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Formats and logs a line only when the sink wants that level.
void Logf(LogSink& log, int level, int source, const char* format, ...)
    __attribute__((format(printf, 4, 5)));

// The text in upper case (ASCII letters only): keywords are taken in any case.
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
