#include "update/slot_probe.h"

#include <filesystem>
#include <memory>

#include "update/network_update.h"
#include "update/serial_update.h"

SlotProbe NetworkSlotProbe(const std::string& address,
                           std::function<std::unique_ptr<NetworkLink>()> makeLink) {
    const auto link = std::make_shared<std::unique_ptr<NetworkLink>>();
    return SlotProbe{[link, address, makeLink] {
                         if (!*link) {
                             *link = makeLink();
                             if ((*link)->Open_Port(address) != 0) {
                                 link->reset();
                             }
                         }
                         return *link != nullptr;
                     },
                     [link] { return (*link)->SynchroniseBootloader() == 0; },
                     [link] { link->reset(); },
                     "the slot " + address + " cannot be opened",
                     NetworkRepeat(),
                     {}};
}

SlotProbe SerialSlotProbe(const std::string& port, unsigned baud,
                          std::function<std::unique_ptr<SerialLink>()> makeLink,
                          std::function<bool()> present) {
    const auto link = std::make_shared<std::unique_ptr<SerialLink>>();
    return SlotProbe{[link, port, baud, makeLink] {
                         // The port stays open while it is there: opening it again and again
                         // could restart a device on every attempt. One that went away is
                         // opened afresh when it is back.
                         std::error_code gone;
                         if (*link && !std::filesystem::exists(port, gone)) {
                             link->reset();
                         }
                         if (!*link) {
                             *link = makeLink();
                             if ((*link)->Open(port, baud) != 0) {
                                 link->reset();  // not plugged in: no device in the slot
                             }
                         }
                         return *link != nullptr;
                     },
                     [link] { return (*link)->SynchroniseBootloader() == 0; },
                     [link] { link->reset(); },
                     {},
                     SerialRepeat(),
                     std::move(present)};
}
