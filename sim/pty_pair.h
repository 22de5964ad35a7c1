#pragma once

#include <string>

#include "log/unique_fd.h"

// A pseudo-terminal pair for a simulated device: the device reads and writes the master (not
// blocking), the host opens the slave by its path. The device keeps the slave open itself, so
// the master never reads a hang-up between two opens by the host, and so it can see the line
// settings the host makes. Both ends close with the object.
class PtyPair {
  public:
    // Creates the pair in raw mode; false with `error` set when that fails.
    bool Open(std::string& error);
    void Close();

    bool IsOpen() const { return master_.Valid(); }
    int Master() const { return master_.Get(); }
    int Slave() const { return slave_.Get(); }
    // The device path the host opens.
    const std::string& Path() const { return path_; }

  private:
    UniqueFd master_;
    UniqueFd slave_;
    std::string path_;
};
