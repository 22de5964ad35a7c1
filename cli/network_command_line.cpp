#include "cli/network_command_line.h"

#include <array>
#include <cstdio>
#include <limits>

#include "cli/command_line.h"
#include "cli/command_records.h"
#include "cli/fleet.h"
#include "cli/operands.h"
#include "update/same_device.h"
#include "cli/target_list.h"
#include "cli/terminal_progress.h"
#include "update/exit_codes.h"
#include "update/network_update.h"

int RunNetworkUpdate(const std::string& address, const std::string& path, LogSink& log,
                     Clock& clock, UpdateObserver& observer) {
    const FrontEnd frontEnd{.path = path};
    UpdateOutcome outcome;
    {
        const std::unique_ptr<NetworkLink> link = MakeNetworkLink(log, clock);
        outcome = UpdateOverNetwork(*link, address, nullptr, frontEnd, observer, log, clock);
    }
    observer.Finished(outcome.verdict, outcome.exitCode);
    return outcome.exitCode;
}

std::optional<int> ParseNetworkRequest(std::span<const std::string> tokens, NetworkUpdateRequest& request) {
    static constexpr std::array kOptions{OptionSpec{"--json", false},
                                         OptionSpec{"--records", true}};
    std::string error;
    // Operands after the file are ignored, as they always were: an unquoted path with a blank
    // is cut there and then names a file that does not exist.
    const std::optional<Operands> operands =
        SplitOperands(tokens, kOptions, std::numeric_limits<std::size_t>::max(), error);
    if (!operands) {
        return UsageError("UDP", error);
    }
    if (operands->help) {
        return PrintHelp(*operands);
    }
    // The original form, without options, keeps its documented outcome: the keyword alone
    // fails to open the link (-10), a missing file fails after the synchronisation (-13).
    if (!operands->options.empty()) {
        if (const std::optional<int> code =
                MissingOperand("UDP", *operands, {"device address", "update file"})) {
            return code;
        }
    }
    const std::vector<std::string>& positional = operands->positional;
    // No address or host name holds a comma, so commas always separate devices.
    TargetList targets = ParseTargets(positional.size() > 0 ? positional[0] : std::string(), false);
    if (targets.targets.empty()) {
        return UsageError("UDP", targets.error);
    }
    request.addresses = std::move(targets.targets);
    request.path = positional.size() > 1 ? positional[1] : std::string();
    request.json = operands->Option("--json").has_value();
    request.records = operands->Option("--records").value_or(std::string());
    if (operands->Option("--records") && request.records.empty()) {
        return UsageError("UDP", "--records: the path is empty");
    }
    return std::nullopt;
}

int RunNetworkCommand(std::span<const std::string> tokens, LogSink& log) {
    NetworkUpdateRequest request;
    if (const std::optional<int> code = ParseNetworkRequest(tokens, request)) {
        return *code;
    }
    if (const std::string twice = SameDeviceTwice(request.addresses, NetworkDeviceKey);
        !twice.empty()) {
        return UsageError("UDP", twice);
    }
    std::unique_ptr<CommandRecords> records;
    if (const std::optional<int> code =
            OpenRecords(request.records, "UDP", request.path, records)) {
        return *code;
    }
    return RunTargets(
        "UDP", request.addresses, request.path, request.json,
        [&](const std::string& address, LogSink& deviceLog, UpdateObserver& shown) {
            return WithRecords(records.get(), address, shown,
                               [&](UpdateObserver& observer, AttemptRecord*) {
                                   return RunNetworkUpdate(address, request.path, deviceLog,
                                                           DefaultClock(), observer);
                               });
        },
        log);
}
