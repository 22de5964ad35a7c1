#pragma once

#include <functional>
#include <optional>
#include <string>

#include "engine/clock.h"
#include "update/update_steps.h"

// Waits until `listed` holds, for `settleMs` at most, reading it again and again; nothing once
// it holds, otherwise the outcome that the device did not settle.
std::optional<UpdateOutcome> SettleDevice(const std::function<bool()>& listed, const char* link,
                                          const std::string& serial, unsigned settleMs,
                                          Clock& clock);
