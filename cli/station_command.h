#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/operands.h"
#include "log/log_sink.h"
#include "station/udev_watch.h"

// "station <file> --link FTDI|USBX|COM|UDP [--slots LIST|@list-file] [--match VID:PID,...]
// [--device-type T] [--station NAME] [--operator NAME] [--records PATH] [--json|--window]":
// waits for devices and updates each one once per visit, the moment it arrives.
struct StationRequest {
    std::string path;
    std::string link;  // upper case
    std::vector<std::string> slotAddresses;
    // What each slot resolves to (its address and port, its port's device), for the slot's
    // lock; empty for a slot that cannot be resolved yet.
    std::vector<std::string> slotKeys;
    std::vector<UsbId> match;  // COM: USB serial adapters taken from udev
    std::string deviceType;
    std::string station;
    std::string operatorName;
    std::string records;
    bool json = false;
    bool window = false;  // shown in the station window instead of on the terminal
};

// The options of "flashwright station" and the links --link names, as its command line knows them.
std::span<const OptionSpec> StationOptions();
std::span<const std::string_view> StationLinks();

// Nothing when the request can be carried out; otherwise the exit code to end with.
std::optional<int> ParseStationRequest(std::span<const std::string> tokens,
                                       StationRequest& request);

int RunStationCommand(std::span<const std::string> tokens, LogSink& log);
