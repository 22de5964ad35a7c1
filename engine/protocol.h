#pragma once

#include <cstdint>
#include <string>

// Bytes of the bootloader dialogue.
inline constexpr std::uint8_t BL_SYNC = 0xF0;             // host: synchronisation request
inline constexpr std::uint8_t BL_SYNC_ANSWER = 0xFE;      // device: first byte of the answer
inline constexpr std::uint8_t BL_SYNC_END = 0xFF;         // device: last byte of the answer
inline constexpr std::uint8_t BL_START = 0xF1;            // host: frames follow
inline constexpr std::uint8_t BL_ACK = 0x11;              // device: frame accepted
inline constexpr std::uint8_t BL_CRC_ERROR = 0x22;        // device: send the frame again
inline constexpr std::uint8_t BL_SIGNATURE_ERROR = 0x33;  // device: accepted, wrong device
inline constexpr std::uint8_t BL_NOT_READY = 0xFE;        // device: stop at once
inline constexpr std::uint8_t BL_NOTHING = 0xFF;          // no reply byte (yet)

inline constexpr std::size_t kSyncAnswerSize = 5;
inline constexpr std::size_t kMaxFrameBody = 276;
inline constexpr unsigned kReplyTimeoutMs = 2500;

// What a successful synchronisation learns; every link object keeps one.
struct BootloaderInfo {
    std::uint8_t versionHigh = 0;
    std::uint8_t versionLow = 0;
    std::uint8_t deviceId = 0;
    bool signatureError = false;
};

// "Bootloader version %X.%.2X": answer bytes 0x01 0x05 read "Bootloader version 1.05".
std::string BootloaderVersionText(const BootloaderInfo& info);
// The version alone, as that text writes it: "1.05".
std::string BootloaderVersionDigits(std::uint8_t high, std::uint8_t low);
