#include "station/first_pass_yield.h"

std::string FirstPassYieldText(std::int64_t firstPassDevices, std::int64_t devices) {
    if (devices <= 0) {
        return "\u2013";
    }
    // Whole tenths of a per cent, in integers so that no two front ends round a share apart.
    const std::int64_t tenths = (firstPassDevices * 2000 + devices) / (devices * 2);
    return std::to_string(tenths / 10) + "." + std::to_string(tenths % 10) + " %";
}
