#include "station/fixture_slot.h"

#include "station/slot_visit.h"

namespace {

// A slot that cannot be opened is tried again after this long.
constexpr unsigned kSlotReopenMs = 1000;

}  // namespace

void ServeSlot(Station& station, StationView& view, const std::string& slot, const SlotProbe& probe,
               Clock& clock) {
    SlotVisit visit;
    while (station.Taking()) {
        if (probe.present && !probe.present()) {
            if (visit.Held()) {
                view.Left(slot);
            }
            return;
        }
        if (!probe.open()) {
            if (!probe.cannotOpen.empty()) {
                view.Problem(probe.cannotOpen);
            } else if (visit.Silent(clock.NowMs())) {
                view.Left(slot);
            }
            clock.Sleep(kSlotReopenMs);
            continue;
        }
        const bool answered = probe.answered();
        const std::uint64_t now = clock.NowMs();
        if (answered && visit.Answered(now)) {
            view.Arrived(slot);
            probe.close();
            station.RunAttempt({slot, {}});
            visit.Answered(clock.NowMs());
            continue;
        }
        if (!answered && visit.Silent(now)) {
            view.Left(slot);
        }
        clock.Sleep(probe.repeat.pauseMs);
    }
}
