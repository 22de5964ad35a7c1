#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The Corvane command frame and its answer, as bytes only: a frame is the start byte, 0x00,
// the command, its data and the end byte; an answer starts with the start byte, carries
// escaped bytes and ends with the end byte.

inline constexpr std::uint8_t kCorvaneFrameStart = 0xBF;
inline constexpr std::uint8_t kCorvaneFrameEnd = 0xFF;
// The device's frame buffer: the frame sent, and the most of an answer taken.
inline constexpr std::size_t kCorvaneFrameBufferSize = 128;
// Start, 0x00, command and end around the data.
inline constexpr std::size_t kCorvaneFrameOverhead = 4;

std::vector<std::uint8_t> BuildCorvaneFrame(std::uint8_t command,
                                            std::span<const std::uint8_t> data);

// Undoes the escapes of a Corvane answer in place (0x3F x stands for one byte: 0x3F, 0x7F,
// 0xBF, 0xFF for x = 0 to 3, else x itself); returns the new count.
std::size_t UnescapeAnswer(std::span<std::uint8_t> bytes);

// The versions a device information answer (command 0x04) reports.
struct CorvaneVersions {
    std::string hardware;
    std::string software;
};

// The versions in a device information payload; nothing when the payload is none.
std::optional<CorvaneVersions> ParseDeviceInformation(std::span<const std::uint8_t> payload);
