#include "cli/device_request.h"

#include <array>

#include "cli/command_line.h"
#include "cli/operands.h"

std::optional<int> ParseDeviceRequest(std::span<const std::string> tokens, std::string_view command,
                                      DeviceUpdateRequest& request) {
    static constexpr std::array kOptions{OptionSpec{"--description", true},
                                         OptionSpec{"--wait", true}, OptionSpec{"--json", false},
                                         OptionSpec{"--records", true}};
    std::string error;
    const std::optional<Operands> operands = SplitOperands(tokens, kOptions, 2, error);
    if (!operands) {
        return UsageError(command, error);
    }
    if (operands->help) {
        return PrintHelp(*operands);
    }
    if (const std::optional<int> code =
            MissingOperand(command, *operands, {"serial number", "update file"})) {
        return code;
    }
    const std::vector<std::string>& positional = operands->positional;
    request.serialNumber = positional.size() > 0 ? positional[0] : std::string();
    request.path = positional.size() > 1 ? positional[1] : std::string();
    request.description = operands->Option("--description").value_or(std::string());
    request.json = operands->Option("--json").has_value();
    request.records = operands->Option("--records").value_or(std::string());
    if (operands->Option("--records") && request.records.empty()) {
        return UsageError(command, "--records: the path is empty");
    }
    if (const std::optional<std::string> wait = operands->Option("--wait")) {
        const std::optional<unsigned> window = ParseWaitSeconds(*wait);
        if (!window) {
            return UsageError(command, "--wait: expected whole seconds from 1 to 86400");
        }
        request.syncWindowMs = *window;
    }
    return std::nullopt;
}
