#include "engine/protocol.h"

#include "log/text_format.h"

std::string BootloaderVersionText(const BootloaderInfo& info) {
    return "Bootloader version " + BootloaderVersionDigits(info.versionHigh, info.versionLow);
}

std::string BootloaderVersionDigits(std::uint8_t high, std::uint8_t low) {
    return StrPrintf("%X.%.2X", high, low);
}
