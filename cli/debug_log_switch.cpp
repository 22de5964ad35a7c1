#include "cli/debug_log_switch.h"

#include <cstdio>
#include <string>

#include "log/debug_log.h"

std::optional<DebugLogSwitch> ParseDebugLogSwitch(const char* value) {
    const std::string text = value != nullptr ? value : "";
    if (text.empty() || text == "0") {
        return DebugLogSwitch::Off;
    }
    if (text == "1" || text == "files") {
        return DebugLogSwitch::Files;
    }
    if (text == "all") {
        return DebugLogSwitch::All;
    }
    return std::nullopt;
}

void ApplyDebugLogSwitch(C_Debug_Log& log, const char* value) {
    const std::optional<DebugLogSwitch> chosen = ParseDebugLogSwitch(value);
    if (!chosen) {
        std::fprintf(stderr,
                     "flashwright: FLASHWRIGHT_DEBUG_LOG=%s is not 1, files or all; the debug "
                     "log stays off\n",
                     value);
        return;
    }
    switch (*chosen) {
        case DebugLogSwitch::Off:
            break;
        case DebugLogSwitch::Files:
            log.SetOutputs(true, true, false, false);
            break;
        case DebugLogSwitch::All:
            log.SetOutputs(true, true, true, true);
            break;
    }
}
