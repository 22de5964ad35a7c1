#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "station/station.h"

// What the station's window shows of its session besides the devices.
struct StationWindowSession {
    StationSession session;
    std::string records;                 // the records database's path
    std::string startedUtc;              // the session's records are those started since
    std::vector<std::string> slotNames;  // the fixture slots, shown from the start
    std::string plant;                   // the plant database's state at the start, or "none"
};

// A window the station shows itself in instead of the terminal's board. It is one more view
// of the station; the station's loop stays the same and runs beside the window's events.
class StationWindowFrontEnd {
  public:
    virtual ~StationWindowFrontEnd() = default;
    // The station's view of this window; the window outlives it.
    virtual std::unique_ptr<StationView> MakeView() = 0;
    // Runs `serve` (the station's loop) on a thread of its own while the window's events run
    // on this one, and returns when it has ended. A dialog the operator leaves open (a question,
    // a file chooser) holds up neither arrivals nor stops. The window may stay after the station
    // has ended until the operator closes it; a stop signal (`stopFd` readable) then ends it.
    virtual void RunBeside(const std::function<void()>& serve, int stopFd) = 0;
};

// Opens the window. `stop` does what a stop signal does: the first takes no new devices, the
// second ends the running updates. Nothing when it cannot open; `error` then says why.
using StationWindowOpener = std::function<std::unique_ptr<StationWindowFrontEnd>(
    const StationWindowSession& session, std::function<void()> stop, std::string& error)>;

// The program with a desktop installs its opener; without one, --window is refused.
void SetStationWindowOpener(StationWindowOpener opener);
const StationWindowOpener& InstalledStationWindowOpener();
