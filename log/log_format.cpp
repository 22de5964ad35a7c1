#include "log/log_format.h"

#include <cstdio>

#include "log/text_format.h"

std::string FormatLine(const LogEntry& entry) {
    const LogTime& t = entry.time;
    // The text is printed as a C string, so it ends at an embedded zero byte.
    return StrPrintf("%.2i:%.2i:%.2i,%.3i | L:%i | S:%.3i | %s\n", t.hour, t.minute, t.second,
                     t.milliseconds, entry.level, entry.source, entry.text.c_str());
}

std::string FormatDump(const LogEntry& entry, int format) {
    const LogTime& t = entry.time;
    std::string out =
        StrPrintf("\n%.2i:%.2i:%.2i,%.3i | L:%i | S:%.3i | Length:%i\n", t.hour, t.minute, t.second,
                  t.milliseconds, entry.level, entry.source, static_cast<int>(entry.data.size()));
    if (!entry.device.empty()) {
        // Where the line has room: a reader of the known fields reads them as before.
        out.insert(out.size() - 1, " | Device:" + entry.device);
    }
    out += RenderBytes(entry.data, format);
    return out;
}

std::string RenderBytes(std::span<const std::uint8_t> data, int format) {
    if (format == kDumpRaw) {
        return std::string(data.begin(), data.end());
    }
    const char* valueFormat = format == kDumpHex ? "%.2X " : "%.3i ";
    std::string out;
    out.reserve(data.size() * 4 + data.size() / 16 + 1);
    char value[8];
    std::size_t count = 0;
    for (const std::uint8_t byte : data) {
        const int n = std::snprintf(value, sizeof value, valueFormat, static_cast<int>(byte));
        out.append(value, static_cast<std::size_t>(n));
        if (++count % 16 == 0) {
            out += '\n';
        }
    }
    return out;
}

std::string ToCrLf(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (const char c : text) {
        if (c == '\n') {
            out += '\r';
        }
        out += c;
    }
    return out;
}

std::string ExceptionLine(long long millisecondsSinceStart, const void* worker, const void* entry) {
    // The line keeps its 32-bit layout: the addresses show their low 32 bits, enough to tell
    // entries apart.
    const auto low32 = [](const void* p) {
        return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p));
    };
    return StrPrintf(
        "(%i) C_Debug_Thread::Run() - Daten nicht plausibel (this 0x%X | Adr. 0x%X)!\n",
        static_cast<int>(millisecondsSinceStart), low32(worker), low32(entry));
}
