#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

// The application of a Corvane device as its host link sees it, before the device restarts
// into its bootloader. The host sends frames 0xBF 0x00 <command> <data...> 0xFF (no
// escaping); the device answers 0xBF, the answer escaped, 0xFF. The answer is a status byte
// (0x00) and the payload. Commands:
//   0x04 device information: payload 0x05, seven reserved bytes, then the text fields
//        "Corvane", hardware, software separated by CR (0x0D).
//   0xAA + 4-byte code: payload 0x01 0x00 and the device restarts into its bootloader; any
//        other code is refused with payload 0x00 0x00 and the application keeps running.
// Other commands are recorded and not answered.

enum class CorvaneFault {
    kNone,
    kSilent,  // no answer to any command
    kWrong,   // 0x04: payload starting 0x06; 0xAA: payload 0x02 0x00, no restart
    kRefuse,  // 0xAA refused even with the right code
};

struct CorvaneOptions {
    std::string hardware = "FW-HW 2";
    std::string software = "FW-SW 1.0";
    std::array<std::uint8_t, 4> code{0x5A, 0xC3, 0x3C, 0xA5};
    CorvaneFault fault = CorvaneFault::kNone;
};

struct CorvaneCommand {
    std::uint8_t command = 0;
    std::vector<std::uint8_t> data;
    bool operator==(const CorvaneCommand&) const = default;
};

inline constexpr std::uint8_t kCorvaneStart = 0xBF;
inline constexpr std::uint8_t kCorvaneEnd = 0xFF;
inline constexpr std::uint8_t kCorvaneEscape = 0x3F;
inline constexpr std::uint8_t kCorvaneInfo = 0x04;
inline constexpr std::uint8_t kCorvaneEnterBootloader = 0xAA;

// 0xBF, the bytes with 0x3F 0x7F 0xBF 0xFF sent as 0x3F 0x00..0x03, 0xFF.
std::vector<std::uint8_t> FrameCorvaneAnswer(std::span<const std::uint8_t> answer);

class CorvaneApplication {
  public:
    explicit CorvaneApplication(CorvaneOptions options) : options_(std::move(options)) {}

    struct Output {
        std::vector<std::vector<std::uint8_t>> answers;  // framed, one write each
        bool enterBootloader = false;  // the bytes after the command that caused it were not taken
    };
    // Takes bytes from the host; stops after a command that restarts the device.
    Output OnBytes(std::span<const std::uint8_t> bytes);
    // A restart: a half-received frame is dropped.
    void Reset() { state_ = State::kIdle; }

    const std::vector<CorvaneCommand>& Commands() const { return commands_; }

  private:
    enum class State { kIdle, kAddress, kCommand, kData };

    void OnCommand(const CorvaneCommand& command, Output& out);
    std::vector<std::uint8_t> InfoPayload() const;

    CorvaneOptions options_;
    State state_ = State::kIdle;
    CorvaneCommand current_;
    std::vector<CorvaneCommand> commands_;
};
