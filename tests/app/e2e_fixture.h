#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "child_process.h"
#include "sim/udp_transport.h"
#include "support/temp_dir.h"

using Bytes = std::vector<std::uint8_t>;

// The programs under test: the update tool and the device simulator.
std::string FlashwrightProgram();
std::string SimulatorProgram();

// The frames of an update image, each with its length bytes.
std::vector<Bytes> SplitFrames(const Bytes& image);

// End-to-end: the real program updates the simulator over loopback. Each test serves its
// simulator on an address of its own, so tests run in parallel.
class NetworkUpdateTest : public ::testing::Test {
  protected:
    // Serves a simulated device on address:4107 until the test ends.
    UdpSimServer& StartDevice(const std::string& address, SimOptions options = {});
    // An update file of `payloadBytes` reproducible bytes in frames of up to 276 bytes.
    std::string MakeUpdateFile(const std::string& name, std::size_t payloadBytes);
    // The update image a file decodes to.
    Bytes ImageOf(const std::string& path) const;
    ChildResult Flashwright(const std::vector<std::string>& args, const ChildOptions& options = {});

    std::vector<SimFrame> DeviceFrames() const;

    TempDir dir_;
    std::unique_ptr<UdpSimServer> device_;
};
