#pragma once

#include <optional>
#include <string_view>

class C_Debug_Log;

// The tracing switch of the environment (FLASHWRIGHT_DEBUG_LOG) for a run without a window.
// It writes the two log files; only "all" also opens the two TCP listeners, as the dialog's
// Debug box does, since a script's trace should not open a network service by itself.
enum class DebugLogSwitch {
    Off,    // unset, empty or "0"
    Files,  // "1" or "files": debug_log.txt and debug_log.bin
    All,    // "all": the two files and the listeners on ports 23 and 24
};

// The switch a value names; nothing for a value that names none.
std::optional<DebugLogSwitch> ParseDebugLogSwitch(const char* value);

// Switches the outputs as the value of FLASHWRIGHT_DEBUG_LOG (null when unset) says; an
// unknown value leaves the log off and says so on standard error.
void ApplyDebugLogSwitch(C_Debug_Log& log, const char* value);
