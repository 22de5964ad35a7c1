#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>

#include "links/usbxpress/communication_silabs.h"
#include "update/link_table.h"
#include "update/update_steps.h"

// The update of the USBXpress device at `index`, described as `description`: a device of a
// known type is told to start its firmware update; then open, synchronise while the user
// power-cycles the device, send the file, close.
UpdateOutcome UpdateOverUsbXpress(CSILab_USB& link, int index, const std::string& description,
                                  const FrontEnd& frontEnd, UpdateObserver& observer, LogSink& log,
                                  Clock& clock);

// Finds the first device the link lists with the serial number `serial` (and the description
// `description`, when not empty) and updates it, after telling `found` its description; when
// none is listed, the outcome says so.
using UsbXpressDeviceFound = std::function<void(const std::string& description)>;
UpdateOutcome UpdateUsbXpressBySerial(CSILab_USB& link, const std::string& serial,
                                      const std::string& description, const FrontEnd& frontEnd,
                                      UpdateObserver& observer, LogSink& log, Clock& clock,
                                      const UsbXpressDeviceFound& found = {});

// What the USBXpress link's update results mean.
std::span<const ResultMeaning> SilabsResults();

// The USBXpress link's row of the link table (update/link_table.h).
extern const LinkRow kUsbXpressLink;
