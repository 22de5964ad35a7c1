#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

// A device bootloader as the host sees it, independent of the carriage: it is fed what the host
// sent (whole datagrams, or bytes from a stream) and answers with reply bytes, each due at a
// given time. A transport (UDP socket, pseudo-terminal) moves the bytes and keeps the time.
//
// Behaviour: after a (re)start it waits for BL_SYNC and answers each one with FE, version high,
// version low, device id, FF; BL_START then opens an update session in which every frame gets
// exactly one reply byte (or none, when the fault script says so); a repeated frame is taken
// like any other. A session counts as an update from its first frame: a synchronisation that
// no frame follows (a station probing its slot) is not reported and takes no number.

// One entry of the fault script: the reply to the next `count` attempts of frame `frame`
// (numbered from 0 like the host numbers them: the count of frames accepted before it).
struct SimFault {
    unsigned frame = 0;
    std::optional<std::uint8_t> reply;  // none: the device stays silent
    unsigned count = 1;
};

// A byte the device sends right after its first reply to frame `frame` (over UDP as a datagram
// of its own, on a line right behind the reply): a copy of the reply (a reply duplicated on its
// way) or a stray byte.
struct SimExtraByte {
    unsigned frame = 0;
    std::optional<std::uint8_t> byte;  // none: a copy of the reply
};

struct SimOptions {
    std::uint8_t versionHigh = 1;
    std::uint8_t versionLow = 5;
    std::uint8_t deviceId = 1;
    // BL_SYNC is ignored until this long after a (re)start, like a device still booting.
    unsigned syncDelayMs = 0;
    // Time between a frame's arrival and its reply.
    unsigned replyDelayMs = 0;
    // Reply to every frame the fault script does not name; none: silence.
    std::optional<std::uint8_t> defaultReply = 0x11;
    std::vector<SimFault> faults;
    std::vector<SimExtraByte> extraBytes;
    // Answer to BL_SYNC instead of the well-formed one (to act as a broken device).
    std::optional<std::vector<std::uint8_t>> syncAnswer;
    // An update session counts as served after this long without a frame.
    unsigned sessionIdleMs = 3000;
};

// Bytes to hand to the host at a given time (one datagram on a message transport).
struct SimOutput {
    std::uint64_t atMs = 0;
    std::vector<std::uint8_t> bytes;
};

// A frame as it arrived, with what the device made of it.
struct SimFrame {
    unsigned session = 0;      // from 1, raised by each update's first frame
    unsigned frameNumber = 0;  // the number the frame was taken as
    bool wellFormed = true;    // length prefix matches, L <= 276
    std::optional<std::uint8_t> reply;
    std::vector<std::uint8_t> bytes;  // the whole frame, length bytes included
};

// What one update session did, for the one-line summary.
struct SimSessionSummary {
    unsigned session = 0;
    unsigned framesReceived = 0;
    unsigned framesAccepted = 0;  // acknowledged, signature errors included
    unsigned crcErrors = 0;
    unsigned silent = 0;
    unsigned signatureErrors = 0;
    unsigned otherReplies = 0;  // any other byte
    bool notReady = false;
    std::size_t bytesAccepted = 0;  // whole frames, length bytes included
    std::uint64_t durationMs = 0;
};

std::string SummaryLine(const SimSessionSummary& summary, const SimOptions& options);

class BootloaderSim {
  public:
    enum class State { WaitingForSync, WaitingForStart, ReceivingFrames };

    BootloaderSim(SimOptions options, std::uint64_t nowMs);

    // A message transport: each datagram is one unit (a protocol byte or a whole frame).
    std::vector<SimOutput> OnDatagram(std::span<const std::uint8_t> datagram, std::uint64_t nowMs);
    // A byte stream: frames are cut from the stream by their length prefix.
    std::vector<SimOutput> OnStreamBytes(std::span<const std::uint8_t> bytes, std::uint64_t nowMs);

    // The device restarts: any open session ends, BL_SYNC is awaited again.
    void Restart(std::uint64_t nowMs);

    // Ends the open session when no frame came for the idle time; returns its summary.
    std::optional<SimSessionSummary> EndIdleSession(std::uint64_t nowMs);
    // Ends the open session, if any (at shutdown).
    std::optional<SimSessionSummary> EndSession(std::uint64_t nowMs);
    // Summaries of sessions ended by a restart or a new synchronisation, not yet taken.
    std::vector<SimSessionSummary> TakeEndedSessions();
    // What a transport reports after each pass: the sessions ended since the last call, and
    // the open one when it went idle (or, with `final`, at shutdown).
    std::vector<SimSessionSummary> CollectEndedSessions(std::uint64_t nowMs, bool final);

    State CurrentState() const { return state_; }
    // No frame is half received (a stream transport may then see other commands).
    bool BetweenFrames() const { return partial_.empty(); }
    const SimOptions& Options() const { return options_; }
    unsigned SyncRequests() const { return syncRequests_; }
    unsigned SyncAnswers() const { return syncAnswers_; }
    // Every frame received, in order, over all sessions.
    const std::vector<SimFrame>& Frames() const { return frames_; }
    // The frames the latest session accepted, concatenated as the device received them.
    const std::vector<std::uint8_t>& AcceptedImage() const { return image_; }
    // The bodies of those frames without their length bytes.
    std::vector<std::uint8_t> AcceptedPayload() const;

  private:
    void OnSync(std::uint64_t nowMs, std::vector<SimOutput>& out);
    void OnStart(std::uint64_t nowMs);
    void OnFrame(std::span<const std::uint8_t> frame, bool wellFormed, std::uint64_t nowMs,
                 std::vector<SimOutput>& out);
    std::optional<std::uint8_t> NextReply();
    void CloseSession();

    SimOptions options_;
    State state_ = State::WaitingForSync;
    std::uint64_t readyAtMs_ = 0;
    unsigned syncRequests_ = 0;
    unsigned syncAnswers_ = 0;

    // The open session.
    bool sessionOpen_ = false;
    SimSessionSummary session_;
    std::uint64_t sessionStartMs_ = 0;
    std::uint64_t lastFrameMs_ = 0;
    unsigned frameNumber_ = 0;
    unsigned attempt_ = 0;  // attempts of the current frame so far
    unsigned sessions_ = 0;
    std::vector<SimSessionSummary> ended_;

    // A frame still arriving on a stream.
    std::vector<std::uint8_t> partial_;
    std::uint64_t partialAtMs_ = 0;

    std::vector<SimFrame> frames_;
    std::vector<std::uint8_t> image_;
};

// What a transport's serving thread hands on after each pass: each served update's summary.
using SimSummaryHandler = std::function<void(const SimSessionSummary&)>;

// Takes the sessions ended since the last call (and the open one when it went idle or, with
// `final`, at shutdown) under the transport's lock, and reports them outside it.
void ReportEndedSessions(std::mutex& mutex, BootloaderSim& sim, std::uint64_t nowMs, bool final,
                         const SimSummaryHandler& onSummary);
