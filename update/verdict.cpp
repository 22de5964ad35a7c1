#include "update/verdict.h"

#include <array>

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

std::span<const VerdictEntry> SerialUpdateVerdicts() {
    static constexpr std::array<VerdictEntry, 8> kTexts{{
        {-99, "Error: BootLoader is hanging!"},
        {-10, "Error: No or wrong response from target device!"},
        {-9, "Error: No or wrong response from target device!"},
        {-7, "Error: unable to send data!"},
        {-6, "Error: Format error in update file!"},
        {-3, "Error: Format error in update file!"},
        {-5, "Error: can not read update file!"},
        {-2, "Error: can not read update file!"},
    }};
    return kTexts;
}

std::span<const VerdictEntry> NetworkUpdateVerdicts() {
    static constexpr std::array<VerdictEntry, 6> kTexts{{
        {-99, "Error: BootLoader is hanging!"},
        {-8, "Error: No or wrong response from target device!"},
        {-6, "Error: Format error in update file!"},
        {-3, "Error: Format error in update file!"},
        {-5, "Error: can not read update file!"},
        {-2, "Error: can not read update file!"},
    }};
    return kTexts;
}

std::span<const VerdictEntry> FtdiUpdateVerdicts() {
    static constexpr std::array<VerdictEntry, 2> kTexts{{
        {-99, "Error: BootLoader is hanging!"},
        {-7, "Error: No or wrong response from target device!"},
    }};
    return kTexts;
}

std::span<const VerdictEntry> SilabsUpdateVerdicts() {
    static constexpr std::array<VerdictEntry, 9> kTexts{{
        {-1, "internal Error: No connection to target device!"},
        {-2, "Error: Can not open update file!"},
        {-3, "Error: Wrong length of update file!"},
        {-4, "Error: not enough memory for this operation!"},
        {-5, "Error: Can not read update file!"},
        {-6, "Error: Wrong Format in update file!"},
        {-7, "internal Error: Can not send data to the target device!"},
        {-8, "Error: No or wrong response from target device!"},
        {-99, "Error: BootLoader is hanging!"},
    }};
    return kTexts;
}
