#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "engine/byte_transport.h"
#include "support/virtual_clock.h"

// A link with a scripted bootloader behind it, running in virtual time. It answers each
// BL_SYNC with the configured answer and each frame with the next scripted reply (0x11 when
// the script is empty), and records everything the host wrote.
class ScriptedTransport final : public ByteTransport {
  public:
    struct Reply {
        std::optional<std::uint8_t> byte;  // none: the device stays silent
        unsigned delayMs = 1;
        std::vector<std::uint8_t> then;  // bytes arriving right behind the reply
    };

    explicit ScriptedTransport(VirtualClock& clock) : clock_(clock) {}

    // --- script ---
    std::vector<std::uint8_t> syncAnswer{0xFE, 0x01, 0x05, 0x07, 0xFF};
    unsigned syncAnswerDelayMs = 5;
    bool answerSync = true;
    std::deque<Reply> replies;
    void AddReply(std::optional<std::uint8_t> byte, unsigned delayMs = 1,
                  std::vector<std::uint8_t> then = {}) {
        replies.push_back({byte, delayMs, std::move(then)});
    }
    // Bytes that arrive at the given time, whatever was written.
    void Arrive(std::vector<std::uint8_t> bytes, unsigned afterMs = 0);

    // Failure injection: the n-th write (from 1) fails with the error; 0 means never; with
    // failLaterWrites every write from the n-th on (a device that has gone).
    int failWriteNumber = 0;
    bool failLaterWrites = false;
    int failWriteError = 5;
    // The n-th reply poll (from 1) reports a failed status query or a failed read.
    int failPollNumber = 0;
    PollStatus failPollStatus = PollStatus::StatusFailed;
    int failPollError = 31;

    bool open = true;

    // --- record ---
    std::vector<std::vector<std::uint8_t>> writes;
    int closeCount = 0;
    int pollCount = 0;
    // The frames written (writes longer than one byte).
    std::vector<std::vector<std::uint8_t>> Frames() const;
    std::size_t CountWrites(std::uint8_t singleByte) const;

    // --- ByteTransport ---
    bool IsOpen() const override { return open; }
    IoResult Write(std::span<const std::uint8_t> bytes) override;
    PollResult PollByte() override;
    AnswerResult ReadAnswer(std::span<std::uint8_t> buffer) override;
    IoResult Read(std::span<std::uint8_t> buffer) override;
    std::vector<std::uint8_t> DiscardInput() override;
    void Close() override;

  private:
    struct Pending {
        std::uint64_t at;
        std::uint8_t byte;
    };
    std::size_t Arrived() const;
    void Schedule(std::uint64_t at, std::uint8_t byte);

    VirtualClock& clock_;
    std::deque<Pending> incoming_;
    int writeNumber_ = 0;
};
