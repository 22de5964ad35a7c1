#include "update/verdict.h"

#include "log/text_format.h"
#include "update/exit_codes.h"

namespace {

const ResultMeaning* Find(int result, std::span<const ResultMeaning> meanings) {
    for (const ResultMeaning& meaning : meanings) {
        if (meaning.result == result) {
            return &meaning;
        }
    }
    return nullptr;
}

}  // namespace

std::string VerdictText(int result, bool signatureError, std::span<const ResultMeaning> meanings) {
    if (result == 0 && !signatureError) {
        return "Programming successful";
    }
    if (const ResultMeaning* meaning = Find(result, meanings); meaning && meaning->text) {
        return meaning->text;
    }
    if (signatureError) {
        return "Error: this is not a valid device!";
    }
    return StrPrintf("Update_AVR() = %i\n", result);
}

int ResultExitCode(int result, bool signatureError, std::span<const ResultMeaning> meanings) {
    if (result == 0 && !signatureError) {
        return kExitSuccess;
    }
    if (const ResultMeaning* meaning = Find(result, meanings); meaning && meaning->exitCode) {
        return *meaning->exitCode;
    }
    return signatureError ? kExitSignatureError : -100 - result;
}
