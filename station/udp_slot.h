#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/clock.h"
#include "station/station.h"
#include "update/network_link.h"

// Serves one fixture slot at `address` until the station stops taking devices: keeps
// synchronising it with the network link's repeat rule; when its bootloader answers and the
// slot was free, the slot holds a device, whose attempt runs at once on this thread. The slot
// is free again once its bootloader has not answered for kSlotFreeAfterSilenceMs.
void ServeUdpSlot(Station& station, StationView& view, const std::string& address,
                  const std::function<std::unique_ptr<NetworkLink>()>& makeLink, Clock& clock);
