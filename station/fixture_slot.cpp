#include "station/fixture_slot.h"

#include <filesystem>

#include "station/slot_visit.h"
#include "update/serial_update.h"
#include "update/network_update.h"

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

void ServeNetworkSlot(Station& station, StationView& view, const std::string& address,
                  const std::function<std::unique_ptr<NetworkLink>()>& makeLink, Clock& clock) {
    std::unique_ptr<NetworkLink> link;
    const SlotProbe probe{[&] {
                              if (!link) {
                                  link = makeLink();
                                  if (link->Open_Port(address) != 0) {
                                      link.reset();
                                  }
                              }
                              return link != nullptr;
                          },
                          [&] { return link->SynchroniseBootloader() == 0; },
                          [&] { link.reset(); },
                          "the slot " + address + " cannot be opened",
                          NetworkRepeat(),
                          {}};
    ServeSlot(station, view, address, probe, clock);
}

void ServeComSlot(Station& station, StationView& view, const std::string& port, unsigned baud,
                  const std::function<std::unique_ptr<SerialLink>()>& makeLink, Clock& clock,
                  std::function<bool()> present) {
    std::unique_ptr<SerialLink> link;
    const SlotProbe probe{[&] {
                              // The port stays open while it is there: opening it again and
                              // again could restart a device on every attempt. One that went
                              // away is opened afresh when it is back.
                              std::error_code gone;
                              if (link && !std::filesystem::exists(port, gone)) {
                                  link.reset();
                              }
                              if (!link) {
                                  link = makeLink();
                                  if (link->Open(port, baud) != 0) {
                                      link.reset();  // not plugged in: no device in the slot
                                  }
                              }
                              return link != nullptr;
                          },
                          [&] { return link->SynchroniseBootloader() == 0; },
                          [&] { link.reset(); },
                          {},
                          SerialRepeat(),
                          std::move(present)};
    ServeSlot(station, view, port, probe, clock);
}
