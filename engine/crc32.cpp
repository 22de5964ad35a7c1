#include "engine/crc32.h"

std::uint32_t Crc32(std::span<const std::uint8_t> bytes) {
    // Bit by bit: the frames it covers are short, a table would buy nothing.
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc & 1u) != 0 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
        }
    }
    return ~crc;
}
