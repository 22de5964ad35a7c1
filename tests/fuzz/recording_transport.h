#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "engine/byte_transport.h"
#include "engine/clock.h"

// Passes everything through to the link behind it and notes, in order and with the clock's
// time, what the protocol wrote and every byte it took in: the fuzz targets judge the
// protocol's decisions by this record alone.
class RecordingTransport final : public ByteTransport {
  public:
    struct Event {
        bool written = false;  // a write (bytes: what went out) or bytes taken in
        bool polled = false;   // taken in by PollByte (else by a read or a discard)
        std::uint64_t at = 0;
        std::vector<std::uint8_t> bytes;
    };

    RecordingTransport(ByteTransport& link, Clock& clock) : link_(link), clock_(clock) {}

    const std::vector<Event>& Events() const { return events_; }

    bool IsOpen() const override { return link_.IsOpen(); }
    IoResult Write(std::span<const std::uint8_t> bytes) override {
        const IoResult r = link_.Write(bytes);
        if (r.ok) {
            Note(true, false, bytes);
        }
        return r;
    }
    PollResult PollByte() override {
        const PollResult r = link_.PollByte();
        if (r.status == PollStatus::Byte) {
            Note(false, true, std::span(&r.byte, 1));
        }
        return r;
    }
    AnswerResult ReadAnswer(std::span<std::uint8_t> buffer) override {
        const AnswerResult r = link_.ReadAnswer(buffer);
        if (r.status == AnswerStatus::Received) {
            Note(false, false, buffer.first(std::min(r.count, buffer.size())));
        }
        return r;
    }
    IoResult Read(std::span<std::uint8_t> buffer) override {
        const IoResult r = link_.Read(buffer);
        if (r.ok) {
            Note(false, false, buffer.first(std::min(r.count, buffer.size())));
        }
        return r;
    }
    std::vector<std::uint8_t> DiscardInput() override {
        std::vector<std::uint8_t> discarded = link_.DiscardInput();
        Note(false, false, discarded);
        return discarded;
    }
    void Close() override { link_.Close(); }

  private:
    void Note(bool written, bool polled, std::span<const std::uint8_t> bytes) {
        if (!bytes.empty()) {
            events_.push_back({written, polled, clock_.NowMs(), {bytes.begin(), bytes.end()}});
        }
    }

    ByteTransport& link_;
    Clock& clock_;
    std::vector<Event> events_;
};
