#pragma once

#include <string>

#include "engine/clock.h"
#include "station/station.h"
#include "update/slot_probe.h"

// Serves one fixture slot until the station stops taking devices: keeps synchronising it with
// the link's repeat rule; when its bootloader answers and the slot was free, the slot holds a
// device, whose attempt runs at once on this thread. The slot is free again once its bootloader
// has not answered for kSlotFreeAfterSilenceMs, or when the slot itself goes.
void ServeSlot(Station& station, StationView& view, const std::string& slot, const SlotProbe& probe,
               Clock& clock);
