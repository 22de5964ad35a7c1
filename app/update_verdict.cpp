#include "app/update_verdict.h"

#include <array>

#include "log/text_format.h"

std::string VerdictText(int code, bool signatureError, std::span<const VerdictEntry> table) {
    if (code == 0 && !signatureError) {
        return "Programming successful";
    }
    for (const VerdictEntry& entry : table) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    if (signatureError) {
        return "Error: this is not a valid device!";
    }
    return StrPrintf("Update_AVR() = %i\n", code);
}

std::span<const VerdictEntry> NetworkVerdicts() {
    static constexpr std::array<VerdictEntry, 6> kTable{{
        {-99, "Error: BootLoader is hanging!"},
        {-8, "Error: No or wrong response from target device!"},
        {-6, "Error: Format error in update file!"},
        {-3, "Error: Format error in update file!"},
        {-5, "Error: can not read update file!"},
        {-2, "Error: can not read update file!"},
    }};
    return kTable;
}
