#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/pty_transport.h"

// The simulated device on a pseudo-terminal, serving in a thread of its own for one test.
class SimOnPty {
  public:
    explicit SimOnPty(SimOptions options = {}, unsigned baud = 0);

    const std::string& Path() const { return server_->Path(); }
    PtySimServer& Server() { return *server_; }
    // Every frame the device received, as it came.
    std::vector<std::vector<std::uint8_t>> Frames() const;
    // The device is gone: the pseudo-terminal closes.
    void Unplug() { server_.reset(); }

  private:
    std::unique_ptr<PtySimServer> server_;
};

// An update file holding `payload` cut into frames of at most bodySize bytes; returns its path.
std::string WriteUpdate(const std::string& folder, const std::vector<std::uint8_t>& payload,
                        unsigned bodySize = 276);
