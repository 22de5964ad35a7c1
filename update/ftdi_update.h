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

// The link's row (update/link_table.h): the device with the serial number updated without any
// dialog; whether its link lists it yet; the attached devices.
UpdateOutcome UpdateFtdiDevice(const std::string& serial, const DeviceType* type,
                               const FrontEnd& frontEnd, UpdateObserver& observer, LogSink& log,
                               Clock& clock);
std::optional<UpdateOutcome> SettleFtdiDevice(const std::string& serial, unsigned settleMs,
                                              Clock& clock);
DeviceListing ListFtdiDevices(LogSink& log);
