#pragma once

#include "engine/clock.h"
#include "log/log_sink.h"
#include "station/station.h"
#include "update/update_steps.h"

// The station's update of one device, found by its serial number, with the link's full recipe.
// Where the device would need the replug guidance, which a station does not give, the final
// message says that it needs a replug.
//
// A device udev has just reported may not be listed by the link yet (the kernel's serial driver
// binding and being detached again, access being granted): with `settleMs`, the link's list is
// read again until the device is in it, for that long at most.
UpdateOutcome UpdateFtdiDevice(const StationDevice& device, const FrontEnd& frontEnd,
                               UpdateObserver& observer, LogSink& log, Clock& clock,
                               unsigned settleMs = 0);
UpdateOutcome UpdateUsbxDevice(const StationDevice& device, const FrontEnd& frontEnd,
                               UpdateObserver& observer, LogSink& log, Clock& clock,
                               unsigned settleMs = 0);

// How long a device reported by udev may take to be listed by its link.
inline constexpr unsigned kDeviceSettleMs = 5000;
