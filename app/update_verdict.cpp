#include "app/update_verdict.h"

#include <array>

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
