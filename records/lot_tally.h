#pragma once

#include <cstdint>
#include <span>
#include <string>

// A production lot's counts from the attempts recorded with its id, so a lot goes on where it
// stopped after a station restarts. Attempts still running are not counted.
struct LotTally {
    std::int64_t attempts = 0;
    // Attempts that ended with code 0: a lot updates each device once, so these are its passed
    // devices.
    std::int64_t passed = 0;
    // The devices tried. A USB device is known by its serial number; a fixture slot's address
    // names the slot and not the board in it, so every attempt on a slot counts as a device.
    std::int64_t devices = 0;
    std::int64_t firstPassDevices = 0;  // devices whose first attempt in the lot passed
    std::int64_t failuresInARow = 0;    // the failed attempts since the lot's last pass
    double FirstPassYield() const {
        return devices == 0 ? 0.0 : static_cast<double>(firstPassDevices) / devices;
    }
};

// One ended attempt of a lot, in the order they started.
struct LotAttempt {
    std::string link;
    std::string device;
    bool passed = false;
};

// The tally of a lot's ended attempts, given in the order they started.
LotTally TallyLot(std::span<const LotAttempt> attempts);
