#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "engine/clock.h"
#include "update/update_steps.h"

// How a link's driver lists its devices: how many there are, and the serial number of one.
struct SerialNumberList {
    std::function<bool(std::uint32_t& count)> count;
    std::function<bool(std::uint32_t index, std::string& serial)> serialAt;
};

// Waits until the list holds `serial`, for `settleMs` at most, reading it again and again;
// nothing once it does, otherwise the outcome that the device did not settle.
std::optional<UpdateOutcome> SettleDevice(const SerialNumberList& list, const char* link,
                                          const std::string& serial, unsigned settleMs,
                                          Clock& clock);
