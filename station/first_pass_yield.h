#pragma once

#include <cstdint>
#include <string>

// The first-pass yield as every front end writes it (the board, the window, the records'
// summary): the share of the devices that passed on their first attempt, in per cent with one
// decimal rounded half up ("66.7 %"), and "–" before any device was tried.
std::string FirstPassYieldText(std::int64_t firstPassDevices, std::int64_t devices);
