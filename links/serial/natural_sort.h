#pragma once

#include <string_view>

// Orders names as people read them: runs of digits compare by their value, so "ttyS2" comes
// before "ttyS10". Everything else compares byte by byte.
bool NaturalLess(std::string_view a, std::string_view b);
