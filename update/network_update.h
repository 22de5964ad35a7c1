#pragma once

#include <span>
#include <string>

#include "engine/device_types.h"
#include "update/link_table.h"
#include "update/network_link.h"
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

// The UDP link's row of the link table (update/link_table.h).
extern const LinkRow kNetworkLink;
