#pragma once

#include <cstdint>
#include <span>

// CRC-32 as HDLC and Ethernet use it: reflected polynomial 0xEDB88320, register preset to all
// ones, result complemented. "123456789" gives 0xCBF43926.
std::uint32_t Crc32(std::span<const std::uint8_t> bytes);
