#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

// The update file decoded into bytes: length-prefixed frames, each 2 + L bytes, L <= 276.
struct UpdateImage {
    std::vector<std::uint8_t> bytes;
};

enum class ReadOutcome { Ok, CannotOpen, OddSize, NoMemory, ShortRead };

struct UpdateFileRead {
    ReadOutcome outcome = ReadOutcome::CannotOpen;
    UpdateImage image;
    // The file size in bytes for OddSize, the system error code for ShortRead.
    long long detail = 0;
};

// Reads and decodes the update file: an even number of hexadecimal characters, two per byte.
// Only a regular file is read; anything else cannot be opened.
UpdateFileRead ReadUpdateFile(const std::string& path);

// One pair of characters into a byte: the text up to the first NUL, its leading hexadecimal
// digits only (at most two); a single digit gives its own value, no digit gives 0.
std::uint8_t DecodePair(char high, char low);

// Length of the file in bytes, or nothing when it cannot be opened for reading or is no
// regular file.
std::optional<long long> UpdateFileLength(const std::string& path);

struct Frame {
    std::size_t offset = 0;
    unsigned length = 0;  // L, the body length
    std::size_t Size() const { return 2 + static_cast<std::size_t>(length); }
};

// The frame at offset, or nothing when fewer than two bytes remain, L exceeds 276 or the
// frame runs past the end. `length` is then set to the L the frame declares (missing
// bytes read as 0).
std::optional<Frame> FrameAt(std::span<const std::uint8_t> image, std::size_t offset,
                             unsigned* length = nullptr);

// Why a frame is malformed.
enum class FrameFault {
    ShortHeader,  // fewer than the two length bytes remain
    TooLong,      // L exceeds 276
    PastTheEnd,   // the frame runs past the end of the image
};

struct MalformedFrame {
    std::size_t offset = 0;
    unsigned length = 0;  // the L it declares (missing bytes read as 0)
    FrameFault fault = FrameFault::ShortHeader;
};

// What a walk over the frames from offset 0 found: the well-formed frames before the first
// malformed one (all of them for a valid image) with their smallest and largest L.
struct FrameWalk {
    std::size_t frames = 0;
    unsigned smallestLength = 0;
    unsigned largestLength = 0;
    std::optional<MalformedFrame> malformed;
};

FrameWalk WalkFrames(std::span<const std::uint8_t> image);

// Walks every frame from offset 0; returns the first malformed frame's L, or nothing when
// the image splits exactly into well-formed frames.
std::optional<unsigned> FindMalformedFrame(std::span<const std::uint8_t> image);
