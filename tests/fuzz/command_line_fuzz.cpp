// The command lines' argument parsing, carried out no further than the parsing. An input is a
// choice of first word and the arguments, separated by zero bytes. Every command line either
// ends with a documented exit status before anything is opened (0 after --help or --version,
// 2 for a usage error) or goes ahead; each command's request holds only what its arguments
// say; the option splitter, the keyword hint, the --wait value, the Corvane code, the tracing
// switch and the display check keep their rules.
#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "cli/command_line.h"
#include "cli/debug_log_switch.h"
#include "cli/device_request.h"
#include "cli/network_command_line.h"
#include "cli/operands.h"
#include "cli/serial_command_line.h"
#include "fuzz_support.h"
#include "pages/display_check.h"
#include "update/corvane_code.h"
#include "update/exit_codes.h"
#include "update/sync_window.h"

namespace {

using Tokens = std::vector<std::string>;

// The first word an input's first byte picks: 1 to 4 one of these, 5 and up the command
// keywords in their table's order; 0 and anything past the keywords keep the input's own.
constexpr std::array<std::string_view, 4> kOtherFirstWords{"--version", "--help", "com", "Ftdi"};

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

Tokens Arguments(FuzzInput& in) {
    const std::size_t choice = in.Byte();
    const auto keywords = CommandKeywords();
    const std::span<const std::uint8_t> rest = in.Rest();
    Tokens args;
    if (choice >= 1 && choice <= kOtherFirstWords.size()) {
        args.emplace_back(kOtherFirstWords[choice - 1]);
    } else if (choice > kOtherFirstWords.size() &&
               choice - kOtherFirstWords.size() - 1 < keywords.size()) {
        args.emplace_back(keywords[choice - kOtherFirstWords.size() - 1].keyword);
    }
    std::string token;
    for (const std::uint8_t b : rest) {
        if (b == 0) {
            args.push_back(std::exchange(token, {}));
        } else {
            token.push_back(static_cast<char>(b));
        }
    }
    if (!token.empty() || (!rest.empty() && rest.back() == 0)) {
        args.push_back(token);
    }
    return args;
}

// Whether the text came from the arguments: empty, or within a token (a value after '=', one
// of several names separated by commas), or any text when a list file was named.
bool FromArguments(const Tokens& tokens, const std::string& text) {
    return text.empty() || std::any_of(tokens.begin(), tokens.end(), [&](const std::string& t) {
               return t.find(text) != std::string::npos || t.starts_with('@');
           });
}

// The devices a command line names: at least one, none empty, none twice, each from the
// arguments.
bool NamedDevices(const Tokens& tokens, const std::vector<std::string>& devices) {
    std::set<std::string> seen;
    return !devices.empty() &&
           std::all_of(devices.begin(), devices.end(), [&](const std::string& d) {
               return !d.empty() && seen.insert(d).second && FromArguments(tokens, d);
           });
}

// The value of a text of decimal digits only, nothing for any other text or a value past
// 32 bits.
std::optional<unsigned> Decimal(const std::string& text) {
    if (text.empty() || !std::all_of(text.begin(), text.end(),
                                     [](unsigned char c) { return std::isdigit(c) != 0; })) {
        return std::nullopt;
    }
    unsigned long long value = 0;
    for (const char c : text) {
        value = value * 10 + static_cast<unsigned>(c - '0');
        if (value > 0xFFFFFFFFull) {
            return std::nullopt;
        }
    }
    return static_cast<unsigned>(value);
}

bool WholeSecondsWindow(unsigned ms) {
    return ms % 1000 == 0 && ms >= 1000 && ms <= 86400u * 1000;
}

void CheckWholeLine(const Tokens& args) {
    const std::optional<int> code = CheckCommandLine(std::span<const std::string>(args));
    FuzzCheck(!code || *code == 0 || *code == kExitUsage,
              "a command line ends before anything is opened only with status 0 or 2");
    const auto keywords = CommandKeywords();
    const bool named = !args.empty() &&
                       (args[0] == "--help" || args[0] == "-h" || args[0] == "--version" ||
                        std::any_of(keywords.begin(), keywords.end(), [&](const CommandKeyword& k) {
                            return k.keyword == Upper(args[0]);
                        }));
    FuzzCheck(named || !code, "a first word that names no command leaves the dialog to open");

    if (!args.empty()) {
        if (const std::optional<std::string> meant = SuggestKeyword(args[0])) {
            const std::array<std::string_view, 8> shown{"UDP",    "COM",          "FTDI",
                                                        "USBX",   "--list-ports", "--list-devices",
                                                        "--help", "--version"};
            FuzzCheck(std::find(shown.begin(), shown.end(), *meant) != shown.end() &&
                          Upper(*meant) != Upper(args[0]),
                      "the hint names another keyword");
        }
    }
}

void CheckRequests(const Tokens& tokens) {
    SerialUpdateRequest serial;
    if (!ParseComRequest(tokens, serial)) {
        const bool onePort = serial.ports == std::vector<std::string>{serial.port};
        FuzzCheck(onePort || (NamedDevices(tokens, serial.ports) && serial.port == serial.ports[0]),
                  "the ports come from the arguments, each once");
        FuzzCheck(FromArguments(tokens, serial.port) && FromArguments(tokens, serial.path),
                  "the port and the file come from the arguments");
        FuzzCheck(serial.baud == 115200 ||
                      std::any_of(tokens.begin(), tokens.end(),
                                  [&](const std::string& t) { return Decimal(t) == serial.baud; }),
                  "the baud is the default or a number given");
        FuzzCheck(WholeSecondsWindow(serial.syncWindowMs), "the window is whole seconds");
    }
    NetworkUpdateRequest network;
    if (!ParseNetworkRequest(tokens, network)) {
        FuzzCheck(network.addresses == std::vector<std::string>{""} ||
                      NamedDevices(tokens, network.addresses),
                  "the addresses come from the arguments, each once");
        FuzzCheck(FromArguments(tokens, network.path), "the file comes from the arguments");
    }
    DeviceUpdateRequest device;
    if (!ParseDeviceRequest(tokens, "FTDI", device)) {
        FuzzCheck(FromArguments(tokens, device.serialNumber) &&
                      FromArguments(tokens, device.path) &&
                      FromArguments(tokens, device.description),
                  "the serial number, the file and the description come from the arguments");
        FuzzCheck(WholeSecondsWindow(device.syncWindowMs), "the window is whole seconds");
    }
    for (const std::string& token : tokens) {
        const std::optional<unsigned> seconds = Decimal(token);
        const bool inRange = seconds && *seconds >= 1 && *seconds <= 86400;
        FuzzCheck(
            ParseWaitSeconds(token) == (inRange ? std::optional(*seconds * 1000) : std::nullopt),
            "--wait takes whole seconds from 1 to 86400 and nothing else");
    }
}

void CheckSplitter(const Tokens& tokens, std::size_t maxPositional) {
    const std::array known{OptionSpec{"--device-type", true}, OptionSpec{"--flag", false}};
    std::string error;
    const std::optional<Operands> operands = SplitOperands(tokens, known, maxPositional, error);
    if (!operands) {
        FuzzCheck(!error.empty(), "a refusal says why");
        return;
    }
    FuzzCheck(operands->positional.size() <= maxPositional, "no operand beyond the limit");
    // The operands keep their order: they are a subsequence of the tokens.
    auto at = tokens.begin();
    for (const std::string& p : operands->positional) {
        at = std::find(at, tokens.end(), p);
        FuzzCheck(at != tokens.end(), "the operands are tokens, in their order");
        ++at;
    }
    for (const auto& [name, value] : operands->options) {
        FuzzCheck(name == "--device-type" || (name == "--flag" && value.empty()),
                  "only known options, a flag without a value");
        FuzzCheck(FromArguments(tokens, value), "an option's value comes from the arguments");
    }
    const bool helpGiven = std::find_if(tokens.begin(), tokens.end(), [](const std::string& t) {
                               return t == "--help" || t == "-h";
                           }) != tokens.end();
    FuzzCheck(!operands->help || helpGiven, "help only when asked for");
}

void CheckSettings(const Tokens& tokens) {
    for (const std::string& token : tokens) {
        const std::optional<CorvaneCode> code = ParseCorvaneCode(token);
        const bool hex8 =
            token.size() == 8 && std::all_of(token.begin(), token.end(),
                                             [](unsigned char c) { return std::isxdigit(c) != 0; });
        FuzzCheck(code.has_value() == hex8, "a Corvane code is exactly 8 hexadecimal digits");
        if (code) {
            for (std::size_t i = 0; i < code->size(); ++i) {
                FuzzCheck(std::stoul(token.substr(2 * i, 2), nullptr, 16) == (*code)[i],
                          "the code's bytes are its digit pairs in order");
            }
        }
        const bool known =
            token.empty() || token == "0" || token == "1" || token == "files" || token == "all";
        FuzzCheck(ParseDebugLogSwitch(token.c_str()).has_value() == known,
                  "the tracing switch knows \"\", 0, 1, files and all");
    }
}

void CheckDisplayProbe(const Tokens& tokens, std::uint8_t bits) {
    static constexpr std::array<const char*, 6> kVariables{"QT_QPA_PLATFORM",  "DISPLAY",
                                                           "XDG_SESSION_TYPE", "WAYLAND_DISPLAY",
                                                           "XDG_RUNTIME_DIR",  "WAYLAND_SOCKET"};
    DisplayProbe probe;
    probe.environment = [&](const char* name) -> std::optional<std::string> {
        for (std::size_t i = 0; i < kVariables.size(); ++i) {
            if (std::string_view(name) == kVariables[i]) {
                return i < tokens.size() ? std::optional(tokens[i]) : std::nullopt;
            }
        }
        return std::nullopt;
    };
    probe.arguments = tokens;
    probe.platformPlugins = [bits] {
        std::set<std::string> plugins;
        if ((bits & 1) != 0) {
            plugins = {"xcb", "wayland", "offscreen"};
        }
        return plugins;
    };
    probe.connectX = [bits](const std::string&) { return (bits & 2) != 0; };
    probe.connectWayland = [bits](const std::string&) { return (bits & 4) != 0; };
    const DisplayCheck check = CheckDisplay(probe);
    FuzzCheck(check.usable == check.missing.empty(),
              "the display check says why exactly when the dialog cannot open");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(std::span(data, size));
    const std::uint8_t bits = size > 1 ? data[1] : 0;
    const Tokens args = Arguments(in);
    CheckWholeLine(args);
    const Tokens tokens(args.begin() + (args.empty() ? 0 : 1), args.end());
    CheckRequests(tokens);
    CheckSplitter(tokens, bits % 4);
    CheckSettings(tokens);
    CheckDisplayProbe(tokens, bits);
    return 0;
}
