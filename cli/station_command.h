#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "cli/operands.h"
#include "log/log_sink.h"
#include "station/station_run.h"

// "station <file> --link FTDI|USBX|COM|UDP [--slots LIST|@list-file] [--match VID:PID,...]
// [--device-type T] [--station NAME] [--operator NAME] [--records PATH] [--json|--window]
// [--metrics ADDR:PORT]", or "station --job FILE [--station NAME] [--operator NAME]
// [--records PATH] [--json|--window] [--metrics ADDR:PORT]":
// waits for devices and updates each one once per visit, the moment it arrives.
struct StationRequest {
    StationOptions options;
    // "--job FILE": the job sets the file, the link, the slots and the device type.
    std::string jobPath;
    bool operatorGiven = false;  // a non-empty --operator
    bool json = false;
    bool window = false;  // shown in the station window instead of on the terminal
    // Where the station's figures are served ("ADDR:PORT"; --metrics, else the job's
    // [metrics] listen, else the settings' metrics/listen); empty: nowhere.
    std::string metricsListen;
    std::string metricsSource = "--metrics";  // where metricsListen comes from, for its errors
    std::string metricsStation;  // --station's value for the figures' label, empty without it
};

// The options of "flashwright station" as its command line knows them.
std::span<const OptionSpec> StationCommandOptions();

// Nothing when the request can be carried out; otherwise the exit code to end with.
std::optional<int> ParseStationRequest(std::span<const std::string> tokens,
                                       StationRequest& request);

int RunStationCommand(std::span<const std::string> tokens, LogSink& log);
