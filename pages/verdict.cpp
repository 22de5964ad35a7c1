#include "pages/verdict.h"

#include "log/text_format.h"

std::string VerdictText(int code, bool signatureError, std::span<const VerdictEntry> pageTexts) {
    if (code == 0 && !signatureError) {
        return "Programming successful";
    }
    for (const VerdictEntry& entry : pageTexts) {
        if (entry.code == code) {
            return entry.text;
        }
    }
    if (signatureError) {
        return "Error: this is not a valid device!";
    }
    return StrPrintf("Update_AVR() = %i\n", code);
}
