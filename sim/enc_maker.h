#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Making update files for the simulator: any binary is cut into length-prefixed frames and
// written as hexadecimal text, the form a device's update file takes.

// Cuts the payload into frames of at most bodySize bytes each (1..276), every frame led by its
// body length as two bytes, high byte first. An empty payload gives no frame.
std::vector<std::uint8_t> CutIntoFrames(std::span<const std::uint8_t> payload, unsigned bodySize);

// Two upper-case hexadecimal digits per byte, no separator, no line end.
std::string HexText(std::span<const std::uint8_t> bytes);

// Reproducible filler bytes for sample images (xorshift32 from the seed).
std::vector<std::uint8_t> PseudoRandomBytes(std::size_t size, std::uint32_t seed);

// Writes the payload as an update file; false with `error` set when the file cannot be written.
bool WriteUpdateFile(const std::string& path, std::span<const std::uint8_t> payload,
                     unsigned bodySize, std::string& error);
