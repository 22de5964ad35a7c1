#include "sim/bootloader_sim.h"

#include <cstdio>
#include <utility>

#include "engine/protocol.h"

namespace {

// A stream frame whose bytes stop coming for this long is dropped: the host sends it again.
constexpr std::uint64_t kPartialFrameTimeoutMs = 200;

unsigned FrameLength(std::uint8_t high, std::uint8_t low) {
    return static_cast<unsigned>(high) << 8 | low;
}

}  // namespace

BootloaderSim::BootloaderSim(SimOptions options, std::uint64_t nowMs)
    : options_(std::move(options)), readyAtMs_(nowMs + options_.syncDelayMs) {}

std::vector<SimOutput> BootloaderSim::OnDatagram(std::span<const std::uint8_t> datagram,
                                                 std::uint64_t nowMs) {
    std::vector<SimOutput> out;
    if (datagram.size() == 1) {
        if (datagram[0] == BL_SYNC) {
            OnSync(nowMs, out);
        } else if (datagram[0] == BL_START && state_ == State::WaitingForStart) {
            OnStart(nowMs);
        }
        return out;
    }
    if (state_ != State::ReceivingFrames) {
        return out;  // a bootloader that was not started ignores frames
    }
    const bool wellFormed = datagram.size() >= 2 &&
                            FrameLength(datagram[0], datagram[1]) == datagram.size() - 2 &&
                            datagram.size() - 2 <= kMaxFrameBody;
    OnFrame(datagram, wellFormed, nowMs, out);
    return out;
}

std::vector<SimOutput> BootloaderSim::OnStreamBytes(std::span<const std::uint8_t> bytes,
                                                    std::uint64_t nowMs) {
    std::vector<SimOutput> out;
    if (!partial_.empty() && nowMs - partialAtMs_ > kPartialFrameTimeoutMs) {
        partial_.clear();
    }
    for (const std::uint8_t b : bytes) {
        if (state_ != State::ReceivingFrames || partial_.empty()) {
            // Between frames a protocol byte may come. BL_SYNC cannot start a frame: its
            // length would exceed the largest frame.
            if (b == BL_SYNC) {
                OnSync(nowMs, out);
                continue;
            }
            if (state_ == State::WaitingForStart && b == BL_START) {
                OnStart(nowMs);
                continue;
            }
            if (state_ != State::ReceivingFrames) {
                continue;
            }
        }
        partial_.push_back(b);
        partialAtMs_ = nowMs;
        if (partial_.size() < 2) {
            continue;
        }
        const unsigned length = FrameLength(partial_[0], partial_[1]);
        if (length > kMaxFrameBody) {
            // Not a frame the host would send: drop it and ask for it again.
            OnFrame(partial_, false, nowMs, out);
            partial_.clear();
        } else if (partial_.size() == 2 + length) {
            OnFrame(partial_, true, nowMs, out);
            partial_.clear();
        }
    }
    return out;
}

void BootloaderSim::Restart(std::uint64_t nowMs) {
    CloseSession();
    state_ = State::WaitingForSync;
    readyAtMs_ = nowMs + options_.syncDelayMs;
    partial_.clear();
}

void BootloaderSim::OnSync(std::uint64_t nowMs, std::vector<SimOutput>& out) {
    ++syncRequests_;
    if (nowMs < readyAtMs_) {
        return;  // still starting up
    }
    if (state_ == State::ReceivingFrames) {
        CloseSession();  // the host starts over
    }
    state_ = State::WaitingForStart;
    ++syncAnswers_;
    std::vector<std::uint8_t> answer{BL_SYNC_ANSWER, options_.versionHigh, options_.versionLow,
                                     options_.deviceId, BL_SYNC_END};
    if (options_.syncAnswer) {
        answer = *options_.syncAnswer;
    }
    out.push_back({nowMs, std::move(answer)});
}

void BootloaderSim::OnStart(std::uint64_t nowMs) {
    state_ = State::ReceivingFrames;
    sessionOpen_ = true;
    session_ = SimSessionSummary{};
    sessionStartMs_ = nowMs;
    lastFrameMs_ = nowMs;
    frameNumber_ = 0;
    attempt_ = 0;
}

std::optional<std::uint8_t> BootloaderSim::NextReply() {
    unsigned skipped = 0;
    for (const SimFault& f : options_.faults) {
        if (f.frame != frameNumber_) {
            continue;
        }
        if (attempt_ < skipped + f.count) {
            return f.reply;
        }
        skipped += f.count;
    }
    return options_.defaultReply;
}

void BootloaderSim::OnFrame(std::span<const std::uint8_t> frame, bool wellFormed,
                            std::uint64_t nowMs, std::vector<SimOutput>& out) {
    lastFrameMs_ = nowMs;
    if (session_.framesReceived == 0) {
        // The first frame makes the session an update: a synchronisation alone (a station
        // probing its slot) is none, and keeps the latest update's image.
        session_.session = ++sessions_;
        image_.clear();
    }
    const unsigned answered = frameNumber_;
    const bool firstAttempt = attempt_ == 0;
    ++session_.framesReceived;
    const std::optional<std::uint8_t> reply =
        wellFormed ? NextReply() : std::optional<std::uint8_t>(BL_CRC_ERROR);
    frames_.push_back({session_.session, frameNumber_, wellFormed, reply,
                       std::vector<std::uint8_t>(frame.begin(), frame.end())});
    ++attempt_;
    if (!reply) {
        ++session_.silent;
        return;
    }
    switch (*reply) {
        case BL_SIGNATURE_ERROR:
            ++session_.signatureErrors;
            [[fallthrough]];
        case BL_ACK:
            ++session_.framesAccepted;
            session_.bytesAccepted += frame.size();
            image_.insert(image_.end(), frame.begin(), frame.end());
            ++frameNumber_;
            attempt_ = 0;
            break;
        case BL_CRC_ERROR:
            ++session_.crcErrors;
            break;
        case BL_NOT_READY:
            session_.notReady = true;
            break;
        default:
            ++session_.otherReplies;
            break;
    }
    const std::uint64_t replyAt = nowMs + options_.replyDelayMs;
    out.push_back({replyAt, {*reply}});
    for (const SimExtraByte& extra : options_.extraBytes) {
        if (firstAttempt && extra.frame == answered) {
            out.push_back({replyAt, {extra.byte.value_or(*reply)}});
        }
    }
}

void BootloaderSim::CloseSession() {
    if (!sessionOpen_) {
        return;
    }
    sessionOpen_ = false;
    if (session_.framesReceived == 0) {
        return;  // no frame came: a probe, not an update
    }
    session_.durationMs = lastFrameMs_ - sessionStartMs_;
    ended_.push_back(session_);
}

std::optional<SimSessionSummary> BootloaderSim::EndIdleSession(std::uint64_t nowMs) {
    if (!sessionOpen_ || nowMs - lastFrameMs_ < options_.sessionIdleMs) {
        return std::nullopt;
    }
    return EndSession(nowMs);
}

std::optional<SimSessionSummary> BootloaderSim::EndSession(std::uint64_t) {
    const std::size_t before = ended_.size();
    CloseSession();
    if (ended_.size() == before) {
        return std::nullopt;  // none open, or a probe
    }
    SimSessionSummary s = ended_.back();
    ended_.pop_back();
    return s;
}

std::vector<SimSessionSummary> BootloaderSim::TakeEndedSessions() {
    return std::exchange(ended_, {});
}

std::vector<SimSessionSummary> BootloaderSim::CollectEndedSessions(std::uint64_t nowMs,
                                                                   bool final) {
    std::vector<SimSessionSummary> ended = TakeEndedSessions();
    if (auto s = final ? EndSession(nowMs) : EndIdleSession(nowMs)) {
        ended.push_back(*s);
    }
    return ended;
}

std::vector<std::uint8_t> BootloaderSim::AcceptedPayload() const {
    std::vector<std::uint8_t> payload;
    std::size_t offset = 0;
    while (offset + 2 <= image_.size()) {
        const std::size_t length = FrameLength(image_[offset], image_[offset + 1]);
        payload.insert(payload.end(), image_.begin() + static_cast<long>(offset + 2),
                       image_.begin() + static_cast<long>(offset + 2 + length));
        offset += 2 + length;
    }
    return payload;
}

std::string SummaryLine(const SimSessionSummary& s, const SimOptions& o) {
    char line[320];
    std::snprintf(
        line, sizeof line,
        "update %u served: %u frames accepted (%zu bytes) of %u received, %u CRC "
        "errors, %u silent, %u signature errors, %u other replies%s, %.2f s, "
        "bootloader %X.%.2X device %u",
        s.session, s.framesAccepted, s.bytesAccepted, s.framesReceived, s.crcErrors, s.silent,
        s.signatureErrors, s.otherReplies, s.notReady ? ", stopped with not ready" : "",
        static_cast<double>(s.durationMs) / 1000.0, o.versionHigh, o.versionLow, o.deviceId);
    return line;
}

void ReportEndedSessions(std::mutex& mutex, BootloaderSim& sim, std::uint64_t nowMs, bool final,
                         const SimSummaryHandler& onSummary) {
    std::vector<SimSessionSummary> ended;
    {
        std::lock_guard lock(mutex);
        ended = sim.CollectEndedSessions(nowMs, final);
    }
    if (onSummary) {
        for (const SimSessionSummary& s : ended) {
            onSummary(s);
        }
    }
}
