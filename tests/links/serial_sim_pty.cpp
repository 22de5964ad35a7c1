#include "links/serial_sim_pty.h"

#include <gtest/gtest.h>

#include "sim/enc_maker.h"

SimOnPty::SimOnPty(SimOptions options, unsigned baud)
    : server_(std::make_unique<PtySimServer>(std::move(options), baud)) {
    std::string error;
    if (!server_->Start(error)) {
        ADD_FAILURE() << error;
    }
}

std::vector<std::vector<std::uint8_t>> SimOnPty::Frames() const {
    return server_->Inspect([](const BootloaderSim& sim) {
        std::vector<std::vector<std::uint8_t>> frames;
        for (const SimFrame& f : sim.Frames()) {
            frames.push_back(f.bytes);
        }
        return frames;
    });
}

std::string WriteUpdate(const std::string& folder, const std::vector<std::uint8_t>& payload,
                        unsigned bodySize) {
    const std::string path = folder + "/update.enc";
    std::string error;
    if (!WriteUpdateFile(path, payload, bodySize, error)) {
        ADD_FAILURE() << error;
    }
    return path;
}
