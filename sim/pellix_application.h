#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// The application of a Pellix-USB device as its host link sees it, before the device restarts
// into its bootloader. The host writes XML command frames and gets no answer:
//   bytes 0-1  the command word, least significant byte first
//   bytes 2-5  the length L = n + 4
//   n bytes    the text, UTF-16 code units
//   4 bytes    CRC-32 (engine/crc32.h) over everything before it, as stored
// For command word 0xAAAA the length, the code units and the CRC are stored least
// significant byte first, for any other word most significant byte first. A good 0xAAAA
// frame whose text holds <StartFirmwareUpdate> restarts the device into its bootloader.

inline constexpr std::uint16_t kPellixXmlCommand = 0xAAAA;
inline constexpr std::string_view kPellixStartUpdate = "<StartFirmwareUpdate>";
// The longest text the device takes, in code units.
inline constexpr std::uint32_t kPellixMaxUnits = 32768;

// A frame as the device received it.
struct PellixFrame {
    std::uint16_t command = 0;
    std::string text;     // Latin-1, as far as it could be read
    bool ok = false;      // it checked out
    std::string problem;  // why not
};

// Checks one frame, cut by its length field.
PellixFrame CheckPellixFrame(std::span<const std::uint8_t> frame);

class PellixApplication {
  public:
    using Clock = std::chrono::steady_clock;
    // A frame that stops arriving for this long is dropped, as the bootloader drops one.
    static constexpr auto kQuietGap = std::chrono::milliseconds(200);

    // Takes bytes from the host; true when a frame restarted the device into its bootloader
    // (the bytes after that frame were not taken).
    bool OnBytes(std::span<const std::uint8_t> bytes, Clock::time_point at);
    // Time passes: a partial frame is dropped after the quiet gap.
    void OnIdle(Clock::time_point now);
    // A restart: a half-received frame is lost.
    void Reset() { pending_.clear(); }

    // Every frame received, in order, good or not.
    const std::vector<PellixFrame>& Frames() const { return frames_; }

  private:
    std::vector<std::uint8_t> pending_;
    Clock::time_point lastByte_{};
    std::vector<PellixFrame> frames_;
};
