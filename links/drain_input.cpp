#include "links/drain_input.h"

#include <algorithm>

std::vector<std::uint8_t> DrainInput(std::size_t chunk, const ReadWaitingInput& read) {
    std::vector<std::uint8_t> discarded;
    while (discarded.size() < kMaxDiscardedBytes) {
        const std::size_t before = discarded.size();
        const std::size_t offered =
            chunk >= kMaxDiscardedBytes ? kMaxDiscardedBytes - before : chunk;
        discarded.resize(before + offered);
        const std::optional<std::size_t> got = read(std::span(discarded).subspan(before));
        const std::size_t taken = got ? std::min(*got, offered) : 0;
        discarded.resize(before + taken);
        if (taken == 0) {
            break;
        }
    }
    return discarded;
}
