#include "update/metrics_listen.h"

#include <charconv>

std::optional<std::string> MetricsListenError(std::string_view listen) {
    const std::size_t colon = listen.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        return std::string(listen) + " is not ADDR:PORT with the address to listen on";
    }
    const std::string_view port = listen.substr(colon + 1);
    int number = 0;
    const auto [end, failure] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || failure != std::errc() || end != port.data() + port.size() || number < 1 ||
        number > 65535) {
        return std::string(listen) + ": the port is not 1 to 65535";
    }
    return std::nullopt;
}
