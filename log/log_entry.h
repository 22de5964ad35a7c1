#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log/debug_log.h"

// One queued line or dump. The caller's thread fills it, the worker writes it out.
struct LogEntry {
    LogTime time;
    int level = 0;
    int source = 0;
    bool isDump = false;
    std::string text;                // text entries only
    std::vector<std::uint8_t> data;  // dump entries only
    std::string device;              // dumps of one device of several: named in the header
};
