#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

// Result of one write or read on a link: ok, or failed with the system's or library's error.
struct IoResult {
    bool ok = false;
    int error = 0;
    std::size_t count = 0;
};

enum class PollStatus {
    Byte,          // a reply byte was read
    Nothing,       // nothing waiting (or the link's short read time-out passed)
    StatusFailed,  // the link's status query failed (serial port)
    ReadFailed,    // reading a waiting byte failed (serial port)
};

struct PollResult {
    PollStatus status = PollStatus::Nothing;
    std::uint8_t byte = 0;
    int error = 0;
};

enum class AnswerStatus {
    Received,      // count bytes were read into the buffer (0 included)
    StatusFailed,  // the status query failed
    Nothing,       // nothing has arrived
    TooMany,       // more bytes waiting than the buffer takes; input purged; count says how many
    ReadFailed,    // the read failed
};

struct AnswerResult {
    AnswerStatus status = AnswerStatus::Nothing;
    std::size_t count = 0;
    int error = 0;
};

// What the bootloader protocol needs of a link: each link supplies its own carriage.
class ByteTransport {
  public:
    virtual ~ByteTransport() = default;

    virtual bool IsOpen() const = 0;

    // Sends the block in one write. Fails when the link reports a failure (and, where the
    // link requires it, when fewer bytes went out).
    virtual IoResult Write(std::span<const std::uint8_t> bytes) = 0;

    // One look for a reply byte: returns at once, or after the link's short read time-out.
    virtual PollResult PollByte() = 0;

    // Single-attempt synchronisation: takes everything that has arrived, in one read.
    virtual AnswerResult ReadAnswer(std::span<std::uint8_t> buffer) = 0;

    // Hunting synchronisation: one read of up to buffer.size() bytes; returns what came
    // within the link's read time-out (count may be 0).
    virtual IoResult Read(std::span<std::uint8_t> buffer) = 0;

    // Takes whatever input is already waiting on the link and returns it, without waiting
    // for more. The protocol has no frame numbers: a byte that arrived before a frame went
    // out (a duplicated or late reply, line noise) must not be taken as that frame's reply.
    virtual std::vector<std::uint8_t> DiscardInput() = 0;

    virtual void Close() = 0;
};
