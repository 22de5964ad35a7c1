#pragma once

#include <span>

#include "cli/verdict.h"

// The result texts of the network link's update, for the verdict rule (pages/verdict.h).
std::span<const VerdictEntry> NetworkVerdicts();
