#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// The 4-byte code a Corvane device expects with its enter-bootloader command. It belongs to
// the user's devices, so it is configured, never built in: the environment variable
// FLASHWRIGHT_CORVANE_CODE, or else the key corvane/enterBootloaderCode of the settings file
// (~/.config/flashwright/flashwright.conf), each as 8 hexadecimal digits, the bytes in the
// order they are sent.
using CorvaneCode = std::array<std::uint8_t, 4>;

inline constexpr const char* kCorvaneCodeVariable = "FLASHWRIGHT_CORVANE_CODE";
inline constexpr const char* kCorvaneCodeKey = "corvane/enterBootloaderCode";

struct CorvaneCodeSetting {
    std::optional<CorvaneCode> code;
    // Where the code came from, or why there is none, for the user.
    std::string source;
};

CorvaneCodeSetting ConfiguredCorvaneCode();

// "12AB34CD" into its four bytes; nothing for any other text.
std::optional<CorvaneCode> ParseCorvaneCode(const std::string& text);
