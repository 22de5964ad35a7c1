#pragma once

#include <functional>
#include <span>
#include <string>

#include "engine/device_types.h"
#include "update/network_link.h"
#include "update/slot_probe.h"
#include "update/update_steps.h"

// The update over the network: open the device's address, send the type's reset text (a device
// of no known type, `type` none, the user restarts), synchronise, send the file.
UpdateOutcome UpdateOverNetwork(NetworkLink& link, const std::string& address,
                                const DeviceType* type, const FrontEnd& frontEnd,
                                UpdateObserver& observer, LogSink& log, Clock& clock);

// The network link's repeat rule for synchronisation attempts.
RepeatRule NetworkRepeat();

// What the network link's update results mean.
std::span<const ResultMeaning> NetworkResults();

// The link's row (update/link_table.h): the device at the address updated, and a fixture slot
// at an address (always there).
UpdateOutcome UpdateNetworkDevice(const std::string& address, const DeviceType* type,
                                  const FrontEnd& frontEnd, UpdateObserver& observer, LogSink& log,
                                  Clock& clock);
SlotProbe ProbeNetworkSlot(const std::string& address, LogSink& log, Clock& clock,
                           std::function<bool()> present);
