#pragma once

#include <optional>
#include <span>
#include <string>

// What one result code of a link's update means: the command line's exit code and the final
// message's text. A result without either follows the common rule (see below).
struct ResultMeaning {
    int result;
    std::optional<int> exitCode;
    const char* text = nullptr;
};

// The final message of a programming run: success only with code 0 and no signature error;
// then the link's text for the code; then the signature error; then the bare code.
std::string VerdictText(int result, bool signatureError, std::span<const ResultMeaning> meanings);

// The exit code of a programming run: 0 only with code 0 and no signature error; then the
// link's exit code for the code; then the signature error's -16; then -100 - result (-1 gives
// -99).
int ResultExitCode(int result, bool signatureError, std::span<const ResultMeaning> meanings);
