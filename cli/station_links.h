#pragma once

#include "engine/clock.h"
#include "log/log_sink.h"
#include "station/station.h"
#include "update/update_steps.h"

// The station's update of one device on a simulated bus, found by its serial number, with the
// link's full recipe. Where the device would need the replug guidance, which a station does
// not give, the final message says that it needs a replug.
// The device's name and a Corvane device's version texts go into its record.
UpdateOutcome UpdateFtdiDevice(const StationDevice& device, const FrontEnd& frontEnd,
                               RecordingObserver& observer, LogSink& log, Clock& clock);
UpdateOutcome UpdateUsbxDevice(const StationDevice& device, const FrontEnd& frontEnd,
                               UpdateObserver& observer, LogSink& log, Clock& clock);
