#pragma once

#include <set>
#include <string>
#include <vector>

#include "log/unique_fd.h"
#include "station/station.h"

// Arrivals on a simulated bus folder, watched through inotify: the descriptor becomes readable
// when a device file is added, removed or rewritten, or the folder itself goes.
class BusWatch {
  public:
    explicit BusWatch(std::string folder) : folder_(std::move(folder)) {}

    // Sets the watch when there is none; false with `problem` set when the folder cannot be
    // watched (gone, no folder, no access).
    bool Arm(std::string& problem);
    bool Armed() const { return fd_.Valid(); }
    // The inotify descriptor to wait on; -1 while not armed.
    int Fd() const { return fd_.Get(); }
    // Reads the events waiting and adds to `removed` the serial number of every device file
    // removed meanwhile (so a device unplugged and plugged back in between two listings still
    // counts as having left); drops the watch when the folder went (Arm sets it again).
    void Drain(std::set<std::string>& removed);
    // The devices on the bus; `problems` gets a line for each file that is no device file.
    std::vector<StationDevice> Devices(std::vector<std::string>& problems) const;

  private:
    std::string folder_;
    UniqueFd fd_;
};
