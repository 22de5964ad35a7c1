#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/clock.h"
#include "station/station.h"
#include "update/network_link.h"
#include "update/serial_link.h"
#include "update/sync_window.h"

// How a fixture slot is asked whether a bootloader answers there.
struct SlotProbe {
    std::function<bool()> open;      // opens the slot's link; false when it cannot
    std::function<bool()> answered;  // one synchronisation attempt
    std::function<void()> close;     // before the update opens the slot its own way
    // Shown when the slot cannot be opened; empty where that only means no device is there (a
    // serial port that is not plugged in).
    std::string cannotOpen;
    RepeatRule repeat;
    // Whether the slot is still there; empty for a slot that is there for the whole session.
    // A slot that goes (a port udev reports removed) ends its service, freeing the slot.
    std::function<bool()> present;
};

// Serves one fixture slot until the station stops taking devices: keeps synchronising it with
// the link's repeat rule; when its bootloader answers and the slot was free, the slot holds a
// device, whose attempt runs at once on this thread. The slot is free again once its bootloader
// has not answered for kSlotFreeAfterSilenceMs, or when the slot itself goes.
void ServeSlot(Station& station, StationView& view, const std::string& slot, const SlotProbe& probe,
               Clock& clock);

// A slot at a network address.
void ServeNetworkSlot(Station& station, StationView& view, const std::string& address,
                  const std::function<std::unique_ptr<NetworkLink>()>& makeLink, Clock& clock);

// A slot on a serial port, opened at `baud`; one udev reported is served while `present` holds.
void ServeComSlot(Station& station, StationView& view, const std::string& port, unsigned baud,
                  const std::function<std::unique_ptr<SerialLink>()>& makeLink, Clock& clock,
                  std::function<bool()> present = {});
