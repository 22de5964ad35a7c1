#include "sim/pellix_application.h"

#include <cstdio>

#include "engine/crc32.h"

namespace {

constexpr std::size_t kHeader = 6;  // command word and length
constexpr std::size_t kCrc = 4;

// A big- or little-endian field of `size` bytes at the start of `bytes`.
std::uint32_t Field(std::span<const std::uint8_t> bytes, std::size_t size, bool lsbFirst) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < size; ++i) {
        const std::uint8_t b = lsbFirst ? bytes[size - 1 - i] : bytes[i];
        value = (value << 8) | b;
    }
    return value;
}

std::uint16_t Command(std::span<const std::uint8_t> frame) {
    return static_cast<std::uint16_t>(frame[0] | (frame[1] << 8));
}

// The length field, read in the byte order the command word selects.
std::uint32_t Length(std::span<const std::uint8_t> frame) {
    return Field(frame.subspan(2), 4, Command(frame) == kPellixXmlCommand);
}

bool UsableLength(std::uint32_t length) {
    return length >= kCrc && (length - kCrc) % 2 == 0 && (length - kCrc) / 2 <= kPellixMaxUnits;
}

std::string Hex(std::uint32_t value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

}  // namespace

PellixFrame CheckPellixFrame(std::span<const std::uint8_t> frame) {
    PellixFrame out;
    if (frame.size() < kHeader + kCrc) {
        out.problem = "shorter than a frame";
        return out;
    }
    out.command = Command(frame);
    const bool lsbFirst = out.command == kPellixXmlCommand;
    const std::uint32_t length = Length(frame);
    if (!UsableLength(length) || frame.size() != kHeader + length) {
        out.problem = "length " + std::to_string(length) + " does not fit " +
                      std::to_string(frame.size()) + " bytes";
        return out;
    }
    const std::size_t n = length - kCrc;
    for (std::size_t i = 0; i < n; i += 2) {
        const std::uint32_t unit = Field(frame.subspan(kHeader + i), 2, lsbFirst);
        if (unit >= 0x100) {
            out.problem = "code unit " + Hex(unit, 4) + " is not Latin-1";
            return out;
        }
        out.text.push_back(static_cast<char>(unit));
    }
    const std::uint32_t stored = Field(frame.subspan(kHeader + n), kCrc, lsbFirst);
    const std::uint32_t computed = Crc32(frame.first(kHeader + n));
    if (stored != computed) {
        out.problem = "CRC " + Hex(stored, 8) + ", computed " + Hex(computed, 8);
        return out;
    }
    if (out.command != kPellixXmlCommand) {
        out.problem = "unknown command word " + Hex(out.command, 4);
        return out;
    }
    out.ok = true;
    return out;
}

bool PellixApplication::OnBytes(std::span<const std::uint8_t> bytes, Clock::time_point at) {
    OnIdle(at);
    lastByte_ = at;
    pending_.insert(pending_.end(), bytes.begin(), bytes.end());
    while (pending_.size() >= kHeader) {
        const std::uint32_t length = Length(pending_);
        if (!UsableLength(length)) {
            // No way to tell where the next frame starts: what arrived so far is dropped.
            frames_.push_back(CheckPellixFrame(pending_));
            pending_.clear();
            return false;
        }
        if (pending_.size() < kHeader + length) {
            return false;
        }
        const auto end = pending_.begin() + static_cast<std::ptrdiff_t>(kHeader + length);
        frames_.push_back(CheckPellixFrame(std::span(pending_.begin(), end)));
        pending_.erase(pending_.begin(), end);
        const PellixFrame& frame = frames_.back();
        if (frame.ok && frame.text.find(kPellixStartUpdate) != std::string::npos) {
            pending_.clear();
            return true;
        }
    }
    return false;
}

void PellixApplication::OnIdle(Clock::time_point now) {
    if (!pending_.empty() && now - lastByte_ >= kQuietGap) {
        PellixFrame dropped;
        if (pending_.size() >= 2) {
            dropped.command = Command(pending_);
        }
        dropped.problem = "incomplete frame (" + std::to_string(pending_.size()) +
                          " bytes) dropped after a quiet gap";
        frames_.push_back(std::move(dropped));
        pending_.clear();
    }
}
