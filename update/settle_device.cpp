#include "update/settle_device.h"

#include "log/text_format.h"
#include "update/exit_codes.h"

namespace {

// How often the link's list is read while a device settles.
constexpr unsigned kSettlePollMs = 100;

bool Listed(const SerialNumberList& list, const std::string& serial) {
    std::uint32_t count = 0;
    std::string found;
    for (std::uint32_t i = 0; list.count(count) && i < count; ++i) {
        if (list.serialAt(i, found) && found == serial) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<UpdateOutcome> SettleDevice(const SerialNumberList& list, const char* link,
                                          const std::string& serial, unsigned settleMs,
                                          Clock& clock) {
    const std::uint64_t start = clock.NowMs();
    while (!Listed(list, serial)) {
        if (clock.NowMs() - start >= settleMs) {
            return UpdateOutcome{
                kExitOpenFailed,
                StrPrintf("ERROR: the %s device with serial number %s did not settle: its link "
                          "does not list it %u s after it arrived (no access, or its driver is "
                          "still binding)!",
                          link, serial.c_str(), settleMs / 1000)};
        }
        clock.Sleep(kSettlePollMs);
    }
    return std::nullopt;
}
