#pragma once

#include <functional>
#include <span>
#include <string>

#include <optional>
#include "links/ftdi/communication_ftdi.h"
#include "update/link_table.h"
#include "update/update_steps.h"

// The update of the FTDI device at `index` of the link's list, named `name` with the serial
// number `serial`: a device of a known type is told to restart in its bootloader, with the
// replug guidance when it does not; then open, synchronise, send the file, close.
UpdateOutcome UpdateOverFtdi(CCommunication& link, int index, const std::string& name,
                             const std::string& serial, const FrontEnd& frontEnd,
                             UpdateObserver& observer, LogSink& log, Clock& clock);

// Finds the first device of the link's list with the serial number `serial` (and the name
// `name`, when not empty) and updates it, after telling `found` its entry; when none is listed,
// the outcome says so.
using FtdiDeviceFound = std::function<void(const FTDI_DeviceEntry&)>;
UpdateOutcome UpdateFtdiBySerial(CCommunication& link, const std::string& serial,
                                 const std::string& name, const FrontEnd& frontEnd,
                                 UpdateObserver& observer, LogSink& log, Clock& clock,
                                 const FtdiDeviceFound& found = {});

// What the FTDI link's update results mean.
std::span<const ResultMeaning> FtdiResults();

// The FTDI link's row of the link table (update/link_table.h).
extern const LinkRow kFtdiLink;
