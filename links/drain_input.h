#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// Stale input taken off before a frame: at most about this much, so a chattering device
// cannot hold the transfer there.
inline constexpr std::size_t kMaxDiscardedBytes = 4096;

// One read of what waits, without waiting, into `into`: the count taken (0 when nothing
// waits), or nothing when the read fails.
using ReadWaitingInput = std::function<std::optional<std::size_t>(std::span<std::uint8_t> into)>;

// Takes waiting input off until nothing waits, a read fails or the limit is reached, and
// returns what it took. Each read is offered `chunk` bytes; a chunk as large as the limit is
// cut to what the limit leaves, a smaller one is offered whole, so the last read may take the
// total past the limit by less than a chunk.
std::vector<std::uint8_t> DrainInput(std::size_t chunk, const ReadWaitingInput& read);
