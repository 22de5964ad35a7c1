#pragma once

#include <cstdint>
#include <span>

#include "engine/bootloader_protocol.h"
#include "log/text_format.h"

// Logging and waiting helpers shared by the synchronisation and the transfer.

template <typename... Args>
void LogLineOf(LogSink& log, const LogLine& line, Args... args) {
    if (line.format == nullptr) {
        return;
    }
    if constexpr (sizeof...(Args) == 0) {
        if (log.Wants(line.level)) {
            log.Log(line.level, line.format, line.source);
        }
    } else {
        Logf(log, line.level, line.source, line.format, args...);
    }
}

inline void Dump(LogSink& log, const DumpRule& rule, std::span<const std::uint8_t> bytes) {
    if (!bytes.empty()) {
        log.LogData(rule.level, bytes, rule.source);
    }
}

template <typename... Args>
int Fail(LogSink& log, const Outcome& outcome, Args... args) {
    LogLineOf(log, outcome.line, args...);
    return outcome.code;
}

inline void Wait(Clock& clock, WaitKind kind, unsigned ms) {
    switch (kind) {
        case WaitKind::Pump:
            clock.PumpWait(ms);
            break;
        case WaitKind::Quiet:
            clock.QuietWait(ms);
            break;
        case WaitKind::Sleep:
            clock.Sleep(ms);
            break;
    }
}
