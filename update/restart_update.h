#pragma once

#include <string>

#include "update/device_types.h"
#include "update/network_link.h"
#include "update/serial_link.h"
#include "update/update_steps.h"

// The updates of the links whose device the user restarts by hand, unless its type restarts
// when told: open the link, send the type's restart command, synchronise, send the file.
// `type` is none for a device of no known type.
UpdateOutcome UpdateOverSerial(SerialLink& link, const std::string& port, unsigned baud,
                               const DeviceType* type, const FrontEnd& frontEnd,
                               UpdateObserver& observer, LogSink& log, Clock& clock);
UpdateOutcome UpdateOverNetwork(NetworkLink& link, const std::string& address,
                                const DeviceType* type, const FrontEnd& frontEnd,
                                UpdateObserver& observer, LogSink& log, Clock& clock);
