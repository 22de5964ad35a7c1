#include "engine/update_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <new>

#include "engine/regular_file.h"

namespace {

std::optional<long long> Length(std::FILE* f) {
    if (std::fseek(f, 0, SEEK_END) != 0) {
        return std::nullopt;
    }
    const long size = std::ftell(f);
    if (size < 0 || std::fseek(f, 0, SEEK_SET) != 0) {
        return std::nullopt;
    }
    return size;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

std::uint8_t DecodePair(char high, char low) {
    const int h = HexDigit(high);
    if (h < 0) {
        return 0;  // also covers a NUL first character: the text is empty
    }
    const int l = HexDigit(low);
    if (l < 0) {
        return static_cast<std::uint8_t>(h);
    }
    return static_cast<std::uint8_t>(h * 16 + l);
}

std::optional<long long> UpdateFileLength(const std::string& path) {
    FileHandle f = OpenRegularFile(path);
    if (!f) {
        return std::nullopt;
    }
    return Length(f.get());
}

UpdateFileRead ReadUpdateFile(const std::string& path) {
    UpdateFileRead result;
    FileHandle f = OpenRegularFile(path);
    if (!f) {
        result.outcome = ReadOutcome::CannotOpen;
        return result;
    }
    const std::optional<long long> size = Length(f.get());
    if (!size) {
        result.outcome = ReadOutcome::CannotOpen;
        return result;
    }
    if (*size % 2 != 0) {
        result.outcome = ReadOutcome::OddSize;
        result.detail = *size;
        return result;
    }
    const auto n = static_cast<std::size_t>(*size / 2);
    std::vector<char> text;
    try {
        result.image.bytes.resize(n);
        text.resize(2 * n);
    } catch (const std::bad_alloc&) {
        result.image.bytes = {};
        result.outcome = ReadOutcome::NoMemory;
        return result;
    }
    errno = 0;
    const std::size_t got = std::fread(text.data(), 1, text.size(), f.get());
    if (got < text.size()) {
        result.image.bytes = {};
        result.outcome = ReadOutcome::ShortRead;
        result.detail = errno;
        return result;
    }
    for (std::size_t i = 0; i < n; ++i) {
        result.image.bytes[i] = DecodePair(text[2 * i], text[2 * i + 1]);
    }
    result.outcome = ReadOutcome::Ok;
    return result;
}

std::optional<Frame> FrameAt(std::span<const std::uint8_t> image, std::size_t offset,
                             unsigned* length) {
    const std::size_t remaining = offset < image.size() ? image.size() - offset : 0;
    const unsigned high = remaining >= 1 ? image[offset] : 0;
    const unsigned low = remaining >= 2 ? image[offset + 1] : 0;
    const Frame frame{offset, (high << 8) | low};
    if (length != nullptr) {
        *length = frame.length;
    }
    if (remaining < 2 || frame.length > 276 || frame.Size() > remaining) {
        return std::nullopt;
    }
    return frame;
}

FrameWalk WalkFrames(std::span<const std::uint8_t> image) {
    FrameWalk walk;
    std::size_t offset = 0;
    do {
        unsigned length = 0;
        const std::optional<Frame> frame = FrameAt(image, offset, &length);
        if (!frame) {
            const std::size_t remaining = image.size() - offset;
            const FrameFault fault = remaining < 2  ? FrameFault::ShortHeader
                                     : length > 276 ? FrameFault::TooLong
                                                    : FrameFault::PastTheEnd;
            walk.malformed = MalformedFrame{offset, length, fault};
            return walk;
        }
        walk.smallestLength = walk.frames == 0 ? length : std::min(walk.smallestLength, length);
        walk.largestLength = std::max(walk.largestLength, length);
        ++walk.frames;
        offset += frame->Size();
    } while (offset < image.size());
    return walk;
}

std::optional<unsigned> FindMalformedFrame(std::span<const std::uint8_t> image) {
    const FrameWalk walk = WalkFrames(image);
    if (walk.malformed) {
        return walk.malformed->length;
    }
    return std::nullopt;
}
