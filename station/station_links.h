#pragma once

#include <optional>

#include "engine/clock.h"
#include "log/log_sink.h"
#include "station/station.h"
#include "update/update_steps.h"

// The station's update of one device on a simulated bus, found by its serial number, with the
// link's full recipe. Where the device would need the replug guidance, which a station does
// not give, the final message says that it needs a replug; a Corvane device without a usable
// enter-bootloader code configured keeps the single command's message, as a replug cannot help.
// The device's name and a Corvane device's version texts go into its record.
UpdateOutcome UpdateFtdiDevice(const StationDevice& device, const FrontEnd& frontEnd,
                               RecordingObserver& observer, LogSink& log, Clock& clock);
UpdateOutcome UpdateUsbxDevice(const StationDevice& device, const FrontEnd& frontEnd,
                               UpdateObserver& observer, LogSink& log, Clock& clock);

// How long a device udev has just reported may take to be listed by its link: the kernel's
// serial driver may bind to it and be detached again, access may still be being granted.
inline constexpr unsigned kDeviceSettleMs = 5000;

// Nothing when the link lists a device with the serial number within `settleMs`, its list read
// again and again meanwhile; otherwise the attempt's outcome: the device did not settle.
std::optional<UpdateOutcome> SettleFtdiDevice(const StationDevice& device, unsigned settleMs,
                                              Clock& clock);
std::optional<UpdateOutcome> SettleUsbxDevice(const StationDevice& device, unsigned settleMs,
                                              Clock& clock);
