#include "support/scripted_transport.h"

#include <algorithm>

void ScriptedTransport::Schedule(std::uint64_t at, std::uint8_t byte) {
    // Keep arrival order: a byte never overtakes one scheduled before it.
    if (!incoming_.empty()) {
        at = std::max(at, incoming_.back().at);
    }
    incoming_.push_back({at, byte});
}

void ScriptedTransport::Arrive(std::vector<std::uint8_t> bytes, unsigned afterMs) {
    for (std::uint8_t b : bytes) {
        Schedule(clock_.NowMs() + afterMs, b);
    }
}

std::size_t ScriptedTransport::Arrived() const {
    // Schedule keeps the arrival times in order, so the bytes that have arrived lead the queue.
    const auto notYet =
        std::partition_point(incoming_.begin(), incoming_.end(),
                             [&](const Pending& p) { return p.at <= clock_.NowMs(); });
    return static_cast<std::size_t>(notYet - incoming_.begin());
}

IoResult ScriptedTransport::Write(std::span<const std::uint8_t> bytes) {
    ++writeNumber_;
    if (writeNumber_ == failWriteNumber ||
        (failLaterWrites && failWriteNumber > 0 && writeNumber_ > failWriteNumber)) {
        return {false, failWriteError, 0};
    }
    writes.emplace_back(bytes.begin(), bytes.end());
    if (bytes.size() == 1 && bytes[0] == 0xF0) {
        if (answerSync) {
            for (std::uint8_t b : syncAnswer) {
                Schedule(clock_.NowMs() + syncAnswerDelayMs, b);
            }
        }
    } else if (bytes.size() > 1) {
        Reply reply{0x11, 1, {}};
        if (!replies.empty()) {
            reply = replies.front();
            replies.pop_front();
        }
        if (reply.byte) {
            Schedule(clock_.NowMs() + reply.delayMs, *reply.byte);
        }
        for (const std::uint8_t b : reply.then) {
            Schedule(clock_.NowMs() + reply.delayMs, b);
        }
    }
    return {true, 0, bytes.size()};
}

PollResult ScriptedTransport::PollByte() {
    ++pollCount;
    if (pollCount == failPollNumber) {
        return {failPollStatus, 0, failPollError};
    }
    if (incoming_.empty() || incoming_.front().at > clock_.NowMs()) {
        return {PollStatus::Nothing, 0, 0};
    }
    const std::uint8_t b = incoming_.front().byte;
    incoming_.pop_front();
    return {PollStatus::Byte, b, 0};
}

AnswerResult ScriptedTransport::ReadAnswer(std::span<std::uint8_t> buffer) {
    const std::size_t n = Arrived();
    if (n == 0) {
        return {AnswerStatus::Nothing, 0, 11};
    }
    if (n > buffer.size()) {
        incoming_.erase(incoming_.begin(), incoming_.begin() + static_cast<long>(n));
        return {AnswerStatus::TooMany, n, 0};
    }
    return {AnswerStatus::Received, static_cast<std::size_t>(Read(buffer).count), 0};
}

IoResult ScriptedTransport::Read(std::span<std::uint8_t> buffer) {
    const std::size_t n = std::min(Arrived(), buffer.size());
    for (std::size_t i = 0; i < n; ++i) {
        buffer[i] = incoming_.front().byte;
        incoming_.pop_front();
    }
    return {true, 0, n};
}

std::vector<std::uint8_t> ScriptedTransport::DiscardInput() {
    std::vector<std::uint8_t> discarded(Arrived());
    Read(discarded);
    return discarded;
}

void ScriptedTransport::Close() {
    ++closeCount;
    open = false;
}

std::vector<std::vector<std::uint8_t>> ScriptedTransport::Frames() const {
    std::vector<std::vector<std::uint8_t>> frames;
    std::copy_if(writes.begin(), writes.end(), std::back_inserter(frames),
                 [](const auto& w) { return w.size() > 1; });
    return frames;
}

std::size_t ScriptedTransport::CountWrites(std::uint8_t singleByte) const {
    return static_cast<std::size_t>(std::count_if(writes.begin(), writes.end(), [&](const auto& w) {
        return w.size() == 1 && w[0] == singleByte;
    }));
}
