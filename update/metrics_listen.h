#pragma once

#include <optional>
#include <string>
#include <string_view>

// Why `listen` is not "ADDR:PORT" with an address and a port 1..65535; nothing when it is.
// The address is never implied: a station serves its figures only where it is told to.
std::optional<std::string> MetricsListenError(std::string_view listen);
