#include "engine/device_identity.h"

#include "log/text_format.h"

std::string DeviceText(unsigned id) {
    switch (id) {
        case 1:
            return "Corvane found";
        case 2:
            return "Orbisgate found";
        case 3:
            return "Lumidor found";
        case 4:
            return "Vantor-USB found";
        case 5:
            return "Zentrix found";
        case 6:
            return "Pellix-USB";
        case 7:
            return "Calloway-Q7";
        case 10:
            return "Tessaly found";
        case 11:
            return "Mirabel found";
        case 12:
            return "Korvo found";
        default:
            return StrPrintf("unknown device (Id=%i) found", static_cast<int>(id));
    }
}

void DeviceText(unsigned id, std::string& out) {
    out = DeviceText(id);
}

std::string DeviceName(unsigned id) {
    std::string text = DeviceText(id);
    constexpr std::string_view kFound = " found";
    if (text.ends_with(kFound)) {
        text.resize(text.size() - kFound.size());
    }
    return text;
}
