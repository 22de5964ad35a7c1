#include "cli/operands.h"

#include <algorithm>
#include <cstdio>

#include "cli/command_line.h"
#include "update/exit_codes.h"

std::optional<std::string> Operands::Option(std::string_view name) const {
    for (auto it = options.rbegin(); it != options.rend(); ++it) {
        if (it->first == name) {
            return it->second;
        }
    }
    return std::nullopt;
}

std::optional<Operands> SplitOperands(std::span<const std::string> tokens,
                                      std::span<const OptionSpec> known, std::size_t maxPositional,
                                      std::string& error) {
    Operands operands;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const std::string& token = tokens[i];
        if (optionsEnded || token.size() < 2 || token[0] != '-') {
            operands.positional.push_back(token);
            continue;
        }
        if (token == "--") {
            optionsEnded = true;
            continue;
        }
        if (token == "--help" || token == "-h") {
            operands.help = true;
            continue;
        }
        const std::size_t equals = token.find('=');
        const std::string name = token.substr(0, equals);
        const auto option = std::find_if(known.begin(), known.end(),
                                         [&](const OptionSpec& o) { return o.name == name; });
        if (option == known.end()) {
            error = "unknown option " + name;
            return std::nullopt;
        }
        if (!option->takesValue) {
            if (equals != std::string::npos) {
                error = name + " takes no value";
                return std::nullopt;
            }
            operands.options.emplace_back(name, std::string());
        } else if (equals != std::string::npos) {
            operands.options.emplace_back(name, token.substr(equals + 1));
        } else if (i + 1 < tokens.size()) {
            operands.options.emplace_back(name, tokens[++i]);
        } else {
            error = name + " needs a value";
            return std::nullopt;
        }
    }
    if (operands.positional.size() > maxPositional) {
        error = "unexpected operand \"" + operands.positional[maxPositional] + "\"";
        return std::nullopt;
    }
    return operands;
}

std::optional<int> ParseNoOperands(std::span<const std::string> tokens, std::string_view command) {
    std::string error;
    const std::optional<Operands> operands = SplitOperands(tokens, {}, 0, error);
    if (!operands) {
        return UsageError(command, error);
    }
    if (operands->help) {
        return PrintUsage();
    }
    return std::nullopt;
}

int PrintHelp(const Operands& operands, std::string_view command) {
    return PrintUsage(operands.Option("--json").has_value(), command);
}

std::optional<int> MissingOperand(std::string_view command, const Operands& operands,
                                  std::initializer_list<std::string_view> names) {
    if (operands.positional.size() >= names.size()) {
        return std::nullopt;
    }
    return UsageError(
        command, "the " + std::string(names.begin()[operands.positional.size()]) + " is missing");
}

int UsageError(std::string_view command, std::string_view error) {
    std::fprintf(stderr, "flashwright %.*s: %.*s\nRun \"flashwright --help\" for the usage.\n",
                 static_cast<int>(command.size()), command.data(), static_cast<int>(error.size()),
                 error.data());
    return kExitUsage;
}
