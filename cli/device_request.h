#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "update/sync_window.h"

// What the USB device command lines ask for: the device by its serial number, the update file.
struct DeviceUpdateRequest {
    std::string serialNumber;
    std::string description;  // empty: the first device with the serial number
    std::string path;
    unsigned syncWindowMs = kCommandLineSyncWindowMs;
    bool json = false;      // JSON events on standard output instead of the terminal display
    std::string records{};  // --records: the database the attempt is written to
};

// "<serial-number> <file> [--description TEXT] [--wait SECONDS] [--json]" after the keyword
// `command`. Nothing when the request can be carried out; otherwise the exit code to end with (a
// usage error's, or 0 after --help printed the usage).
std::optional<int> ParseDeviceRequest(std::span<const std::string> tokens, std::string_view command,
                                      DeviceUpdateRequest& request);
