#pragma once

#include <string>

#include "links/ftdi/communication_ftdi.h"
#include "links/usbxpress/communication_silabs.h"
#include "update/update_steps.h"

// The update of the FTDI device at `index` of the link's list, named `name` with the serial
// number `serial`: a device of a known type is told to restart in its bootloader, with the
// replug guidance when it does not; then open, synchronise, send the file, close.
UpdateOutcome UpdateOverFtdi(CCommunication& link, int index, const std::string& name,
                             const std::string& serial, const FrontEnd& frontEnd,
                             UpdateObserver& observer, LogSink& log, Clock& clock);

// The update of the USBXpress device at `index`, described as `description`: a device of a
// known type is told to start its firmware update; then open, synchronise while the user
// power-cycles the device, send the file, close.
UpdateOutcome UpdateOverUsbXpress(CSILab_USB& link, int index, const std::string& description,
                                  const FrontEnd& frontEnd, UpdateObserver& observer, LogSink& log,
                                  Clock& clock);
