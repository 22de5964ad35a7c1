#pragma once

#include <string>
#include <vector>

#include "links/simbus/bus_folder.h"
#include "log/unique_fd.h"

// The devices on a bus folder as the simulated libraries see them. The folder is read again
// only when something in it has changed since the last reading (a file added, removed,
// renamed or written), so one listing (a count, then calls per index) reads each file once,
// however many devices are attached. Where the folder cannot be watched it is read every time.
class SimBusListing {
  public:
    explicit SimBusListing(std::string folder) : folder_(std::move(folder)) {}

    const std::vector<BusDevice>& Devices();

  private:
    // True when the folder may have changed since the last reading (or was never read).
    bool Changed();

    std::string folder_;
    UniqueFd watch_;  // an inotify descriptor on the folder, invalid while it cannot be had
    std::vector<BusDevice> devices_;
};
