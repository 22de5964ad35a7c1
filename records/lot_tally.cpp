#include "records/lot_tally.h"

#include <set>
#include <utility>

#include "update/link_table.h"

namespace {

// Whether attempts on `link` name the device itself (its serial number on a USB bus) rather
// than a fixture slot.
bool LinkNamesDevice(const std::string& link) {
    const LinkRow* row = FindLink(link);
    return row != nullptr && row->arrival == LinkArrival::UsbBus;
}

}  // namespace

LotTally TallyLot(std::span<const LotAttempt> attempts) {
    LotTally tally;
    std::set<std::pair<std::string, std::string>> seen;
    for (const LotAttempt& attempt : attempts) {
        ++tally.attempts;
        if (!LinkNamesDevice(attempt.link) || seen.emplace(attempt.link, attempt.device).second) {
            ++tally.devices;
            tally.firstPassDevices += attempt.passed ? 1 : 0;
        }
        if (attempt.passed) {
            ++tally.passed;
            tally.failuresInARow = 0;
        } else {
            ++tally.failuresInARow;
        }
    }
    return tally;
}
