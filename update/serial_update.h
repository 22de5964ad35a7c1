#pragma once

#include <span>
#include <string>

#include "engine/device_types.h"
#include "update/link_table.h"
#include "update/serial_link.h"
#include "update/update_steps.h"

// The update over a serial port: open it, send the type's restart bytes (a device of no known
// type, `type` none, the user restarts), synchronise, send the file.
UpdateOutcome UpdateOverSerial(SerialLink& link, const std::string& port, unsigned baud,
                               const DeviceType* type, const FrontEnd& frontEnd,
                               UpdateObserver& observer, LogSink& log, Clock& clock);

// The pause between two synchronisation attempts on the serial link.
RepeatRule SerialRepeat();

// What the serial link's update results mean.
std::span<const ResultMeaning> SerialResults();

// The serial link's row of the link table (update/link_table.h).
extern const LinkRow kSerialLink;
