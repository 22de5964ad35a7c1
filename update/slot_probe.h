#pragma once

#include <functional>
#include <memory>
#include <string>

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

// A slot at a network address.
SlotProbe NetworkSlotProbe(const std::string& address,
                           std::function<std::unique_ptr<NetworkLink>()> makeLink);

// A slot on a serial port, opened at `baud`; one udev reported is served while `present` holds.
SlotProbe SerialSlotProbe(const std::string& port, unsigned baud,
                          std::function<std::unique_ptr<SerialLink>()> makeLink,
                          std::function<bool()> present);
