#include "engine/protocol.h"

#include "log/text_format.h"

std::string BootloaderVersionText(const BootloaderInfo& info) {
    return StrPrintf("Bootloader version %X.%.2X", info.versionHigh, info.versionLow);
}
