#include "station/udp_slot.h"

#include "station/slot_visit.h"
#include "update/udp_update.h"

namespace {

// A slot whose address cannot be opened is tried again after this long.
constexpr unsigned kSlotReopenMs = 1000;

}  // namespace

void ServeUdpSlot(Station& station, StationView& view, const std::string& address,
                  const std::function<std::unique_ptr<NetworkLink>()>& makeLink, Clock& clock) {
    const RepeatRule repeat = NetworkRepeat();
    SlotVisit visit;
    std::unique_ptr<NetworkLink> probe;
    while (station.Taking()) {
        if (!probe) {
            probe = makeLink();
            if (probe->Open_Port(address) != 0) {
                probe.reset();
                view.Problem("the slot " + address + " cannot be opened");
                clock.Sleep(kSlotReopenMs);
                continue;
            }
        }
        const bool answered = probe->SynchroniseBootloader() == 0;
        const std::uint64_t now = clock.NowMs();
        if (answered && visit.Answered(now)) {
            view.Arrived(address);
            probe.reset();  // the update opens the slot its own way
            station.RunAttempt({address, {}});
            visit.Answered(clock.NowMs());
            continue;
        }
        if (!answered && visit.Silent(now)) {
            view.Left(address);
        }
        clock.Sleep(repeat.pauseMs);
    }
}
