#include "update/corvane_code.h"

#include <charconv>
#include <cstdlib>

#include "update/settings.h"

std::optional<CorvaneCode> ParseCorvaneCode(const std::string& text) {
    if (text.size() != 8) {
        return std::nullopt;
    }
    CorvaneCode code{};
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char* first = text.data() + 2 * i;
        const auto [end, ec] = std::from_chars(first, first + 2, code[i], 16);
        if (ec != std::errc() || end != first + 2) {
            return std::nullopt;
        }
    }
    return code;
}

CorvaneCodeSetting ConfiguredCorvaneCode() {
    if (const char* value = std::getenv(kCorvaneCodeVariable); value != nullptr && *value != 0) {
        if (auto code = ParseCorvaneCode(value)) {
            return {code, kCorvaneCodeVariable};
        }
        return {std::nullopt, std::string(kCorvaneCodeVariable) + " is not 8 hexadecimal digits"};
    }
    const std::string file = SettingsFileName();
    const std::optional<std::string> value = SettingsValue(kCorvaneCodeKey);
    if (!value) {
        return {std::nullopt, std::string("no enter-bootloader code configured: set ") +
                                  kCorvaneCodeVariable + " or " + kCorvaneCodeKey + " in " + file};
    }
    if (auto code = ParseCorvaneCode(*value)) {
        return {code, file};
    }
    return {std::nullopt,
            std::string(kCorvaneCodeKey) + " in " + file + " is not 8 hexadecimal digits"};
}
