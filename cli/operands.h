#pragma once

#include <cstddef>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The tokens after a command keyword, checked alike on every command line: positional
// operands and options, wherever they stand.

struct OptionSpec {
    std::string_view name;    // "--device-type"
    bool takesValue = false;  // given as "--name value" or "--name=value"
};

struct Operands {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> options;  // name and value, as given
    bool help = false;                                         // --help or -h among them

    // The value of the option given last under this name, or nothing.
    std::optional<std::string> Option(std::string_view name) const;
};

// Splits the tokens. One that starts with '-' (other than "-" alone) is an option, until "--",
// after which every token is positional. An unknown option, a missing value, a value given to
// an option that takes none, or more than `maxPositional` positional operands is a usage
// error: nothing is returned and `error` says what was wrong.
std::optional<Operands> SplitOperands(std::span<const std::string> tokens,
                                      std::span<const OptionSpec> known, std::size_t maxPositional,
                                      std::string& error);

// The tokens of a command that takes no operands (only --help). Nothing when the command can
// be carried out; otherwise the exit code to end with (a usage error's, or 0 after --help
// printed the usage).
std::optional<int> ParseNoOperands(std::span<const std::string> tokens, std::string_view command);

// After --help: the usage (that command's own where it has one), on standard error when --json
// was given too.
int PrintHelp(const Operands& operands, std::string_view command = {});

// The usage error for the first operand not given, `names` naming the positional operands in
// their order ("update file"); nothing when every one is there.
std::optional<int> MissingOperand(std::string_view command, const Operands& operands,
                                  std::initializer_list<std::string_view> names);

// Reports a usage error on standard error ("flashwright <command>: <error>" and a pointer to
// --help) and returns the exit status for it, 2: nothing was tried.
int UsageError(std::string_view command, std::string_view error);
