#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "log/log_entry.h"

// How a dump renders its bytes.
enum DumpFormat : int { kDumpRaw = 0, kDumpHex = 1, kDumpDecimal = 2 };

// The line of a text entry as the text file holds it, ending in one line feed.
std::string FormatLine(const LogEntry& entry);

// A dump entry as the dump file holds it: a line feed (which ends the previous dump's last
// row), the header line, then the bytes rendered in the given format. A dump of one device
// among several ends its header with " | Device:<name>", after the fields readers know.
std::string FormatDump(const LogEntry& entry, int format);

// Raw: the bytes themselves. Hex and decimal: one value and a blank per byte, a line feed
// after every 16th value.
std::string RenderBytes(std::span<const std::uint8_t> data, int format);

// Terminal clients expect CR LF line ends.
std::string ToCrLf(std::string_view text);

// The line written to the exception file for an entry with an impossible time of day.
std::string ExceptionLine(long long millisecondsSinceStart, const void* worker, const void* entry);
