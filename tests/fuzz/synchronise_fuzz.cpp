// The bootloader's synchronisation answer, in the single-attempt form (serial and network
// links) and the hunting form (the USB links), through the scripted device in virtual time.
// An input is a header, bytes already waiting before the request, and the answer the device
// gives to every synchronisation request.
#include <algorithm>
#include <vector>

#include "engine/bootloader_protocol.h"
#include "engine/link_profiles.h"
#include "engine/protocol.h"
#include "fuzz_support.h"
#include "recording_transport.h"
#include "support/scripted_transport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr unsigned kFuzzDeadlineMs = 250;

struct Script {
    bool hunting = false;
    bool secondProfile = false;  // network resp. SiLabs, else serial resp. FTDI
    bool answers = true;
    int failWrite = 0;  // the write (from 1) that fails, 0 for none
    unsigned delayMs = 0;
    Bytes waiting;  // arrived before the request
    Bytes answer;
};

Script ReadScript(FuzzInput& in) {
    Script s;
    const std::uint8_t mode = in.Byte();
    s.hunting = (mode & 1) != 0;
    s.secondProfile = (mode & 2) != 0;
    s.answers = (mode & 4) == 0;
    s.failWrite = (mode >> 3) & 3;
    s.delayMs = in.Byte();
    const auto waiting = in.Bytes(in.Byte() % 16);
    s.waiting.assign(waiting.begin(), waiting.end());
    const auto answer = in.Rest();
    s.answer.assign(answer.begin(), answer.end());
    return s;
}

bool WellFormed(std::span<const std::uint8_t> answer) {
    return answer.size() == kSyncAnswerSize && answer[0] == BL_SYNC_ANSWER &&
           answer[4] == BL_SYNC_END;
}

bool InfoIs(const BootloaderInfo& info, std::span<const std::uint8_t> answer) {
    return info.versionHigh == answer[1] && info.versionLow == answer[2] &&
           info.deviceId == answer[3];
}

// Everything the device has delivered to the protocol, in order.
Bytes TakenIn(const RecordingTransport& recorder) {
    Bytes bytes;
    for (const RecordingTransport::Event& e : recorder.Events()) {
        if (!e.written) {
            bytes.insert(bytes.end(), e.bytes.begin(), e.bytes.end());
        }
    }
    return bytes;
}

void CheckSingle(const Script& s, ScriptedTransport& device, VirtualClock& clock) {
    const SingleSyncProfile& p = s.secondProfile ? NetworkSyncProfile() : SerialSyncProfile();
    FormattingLog log;
    RecordingTransport recorder(device, clock);
    BootloaderInfo info;
    const int result = SynchroniseSingle({recorder, clock, log}, p, info);

    // What waits when the answer is read: the early bytes, and the answer when it came in time.
    Bytes waiting = s.waiting;
    if (s.answers && s.failWrite != 1 && s.delayMs <= p.answerWaitMs) {
        waiting.insert(waiting.end(), s.answer.begin(), s.answer.end());
    }
    const bool accepted = WellFormed(waiting) && s.failWrite != 1 && s.failWrite != 2;
    FuzzCheck((result == 0) == accepted,
              "a single attempt succeeds exactly when FE a b c FF alone waits");
    if (result == 0) {
        FuzzCheck(InfoIs(info, waiting), "the answer's middle bytes are the bootloader's");
        FuzzCheck(device.writes == std::vector<Bytes>{{BL_SYNC}, {BL_START}},
                  "a successful attempt sends the request and the start byte");
    } else {
        FuzzCheck(device.CountWrites(BL_START) == 0, "a failed attempt sends no start byte");
        const std::array codes{p.notOpen.code,    p.syncWriteFailed.code, p.statusFailed.code,
                               p.nothing.code,    p.tooMany.code,         p.readFailed.code,
                               p.wrongCount.code, p.badFormat.code,       p.startWriteFailed.code};
        FuzzCheck(std::find(codes.begin(), codes.end(), result) != codes.end(),
                  "a failed attempt ends with one of the link's codes");
    }
}

void CheckHunting(const Script& s, ScriptedTransport& device, VirtualClock& clock) {
    // The link's profile with its deadline cut to a few attempts: a failed hunt otherwise
    // polls through 1 s or 2.5 s of virtual time, which would make every input slow.
    HuntingSyncProfile p = s.secondProfile ? SilabsSyncProfile() : FtdiSyncProfile();
    p.deadlineMs = kFuzzDeadlineMs;
    FormattingLog log;
    RecordingTransport recorder(device, clock);
    BootloaderInfo info;
    const std::uint64_t start = clock.NowMs();
    const int result = SynchroniseHunting({recorder, clock, log}, p, info);
    const std::uint64_t took = clock.NowMs() - start;

    if (result == 0) {
        const Bytes taken = TakenIn(recorder);
        FuzzCheck(taken.size() >= kSyncAnswerSize &&
                      WellFormed(std::span(taken).last(kSyncAnswerSize)) &&
                      InfoIs(info, std::span(taken).last(kSyncAnswerSize)),
                  "hunting succeeds only on FE a b c FF in a row, and keeps a b c");
        // The start byte's write may fail unnoticed: the bootloader's next answer tells.
        const std::size_t starts = device.CountWrites(BL_START);
        FuzzCheck(starts == 0 || (starts == 1 && device.writes.back() == Bytes{BL_START}),
                  "a successful hunt ends with at most one start byte, its last write");
        return;
    }
    FuzzCheck(result == p.timeout.code, "a failed hunt ends with the time-out code");
    FuzzCheck(device.CountWrites(BL_START) == 0, "a failed hunt sends no start byte");
    FuzzCheck(took >= p.deadlineMs &&
                  took <= p.deadlineMs + p.huntWindowMs + p.noAnswerPauseMs + p.beforeRestMs,
              "a hunt gives up at its deadline, not before and not long after");
    const bool clean =
        s.waiting.empty() && s.answers && s.failWrite == 0 && s.answer.size() >= kSyncAnswerSize &&
        WellFormed(std::span(s.answer).first(kSyncAnswerSize)) && s.delayMs < p.huntWindowMs;
    FuzzCheck(!clean, "a well-formed answer within the hunting window is found");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(std::span(data, size));
    const Script s = ReadScript(in);
    VirtualClock clock;
    ScriptedTransport device(clock);
    device.answerSync = s.answers;
    device.syncAnswer = s.answer;
    device.syncAnswerDelayMs = s.delayMs;
    device.failWriteNumber = s.failWrite;
    device.Arrive(s.waiting);
    if (s.hunting) {
        CheckHunting(s, device, clock);
    } else {
        CheckSingle(s, device, clock);
    }
    return 0;
}
