// The transfer's handling of the device's replies. An input is a header (link, number of
// frames, an injected failure) and then the device's behaviour frame write by frame write: a
// reply byte after a delay (with a byte behind it), a silence, or a stray byte at some time.
// Whatever the device does, the transfer moves to the next frame only on an acknowledgement
// or a signature reply that came within the reply time, and succeeds only when every frame
// got one.
#include <algorithm>
#include <array>
#include <vector>

#include "engine/bootloader_protocol.h"
#include "engine/link_profiles.h"
#include "engine/protocol.h"
#include "fuzz_support.h"
#include "memory_file.h"
#include "recording_transport.h"
#include "support/scripted_transport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Frame bodies of 5, 0, 276 and 1 bytes; an input sends the first one to four of them.
constexpr std::array<std::size_t, 4> kBodies{5, 0, 276, 1};
// Reply delays: short ones around the links' pause after a frame (0 or 10 ms), and a few at
// the end of the 2500 ms reply time (which the transfer polls through millisecond by
// millisecond, so they are kept rare).
constexpr std::array<unsigned, 16> kDelays{0,  1,  2,   3,    5,    9,    10,   11,
                                           12, 20, 100, 1000, 2500, 2501, 2510, 2511};

std::vector<Bytes> Frames(std::size_t count) {
    std::vector<Bytes> frames;
    for (std::size_t i = 0; i < count; ++i) {
        Bytes frame{static_cast<std::uint8_t>(kBodies[i] >> 8),
                    static_cast<std::uint8_t>(kBodies[i] & 0xFF)};
        for (std::size_t j = 0; j < kBodies[i]; ++j) {
            frame.push_back(static_cast<std::uint8_t>(i * 16 + j));
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

// The update files of one to four frames, as hexadecimal text.
const MemoryFile& FileOf(std::size_t count) {
    static const std::array<MemoryFile, 4> files = [] {
        std::array<MemoryFile, 4> made;
        for (std::size_t n = 1; n <= made.size(); ++n) {
            std::string text;
            for (const Bytes& frame : Frames(n)) {
                for (const std::uint8_t b : frame) {
                    static constexpr char kDigits[] = "0123456789ABCDEF";
                    text += kDigits[b >> 4];
                    text += kDigits[b & 15];
                }
            }
            made[n - 1].Write(
                std::span(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
        }
        return made;
    }();
    return files[count - 1];
}

const TransferProfile& ProfileOf(std::uint8_t choice) {
    switch (choice & 3) {
        case 0:
            return SerialTransferProfile();
        case 1:
            return NetworkTransferProfile();
        case 2:
            return FtdiTransferProfile();
        default:
            return SilabsTransferProfile();
    }
}

void Script(FuzzInput& in, ScriptedTransport& device) {
    const std::uint8_t failures = in.Byte();
    device.failPollNumber = in.Byte();
    device.failPollStatus = (failures & 1) != 0 ? PollStatus::ReadFailed : PollStatus::StatusFailed;
    device.failWriteNumber = (failures >> 1) & 7;
    // A silence or a reply at the end of the reply time costs 2500 polls; past the first two
    // of an input they turn into prompt replies, so that every input stays quick.
    int slow = 0;
    while (!in.Empty()) {
        const std::uint8_t control = in.Byte();
        const std::uint8_t value = in.Byte();
        unsigned delay = kDelays[(control >> 2) & 15];
        int kind = control & 3;
        if ((kind == 1 || delay >= kReplyTimeoutMs) && ++slow > 2) {
            kind = kind == 1 ? 0 : kind;
            delay = kDelays[(control >> 2) & 7];
        }
        switch (kind) {
            case 0:
                device.AddReply(value, delay);
                break;
            case 1:
                device.AddReply(std::nullopt);
                break;
            case 2:
                device.AddReply(value, delay, {in.Byte()});
                break;
            default:
                device.Arrive({value}, (control >> 2) * 40u);
                break;
        }
    }
}

bool Accepting(std::uint8_t reply) {
    return reply == BL_ACK || reply == BL_SIGNATURE_ERROR;
}

// One frame write and the reply the transfer took for it: the first byte other than 0xFF
// polled before the next write.
struct Attempt {
    std::size_t frame = 0;
    std::uint64_t writtenAt = 0;
    std::optional<std::uint8_t> reply;
    std::uint64_t replyAt = 0;
};

std::vector<Attempt> Attempts(const RecordingTransport& recorder,
                              const std::vector<Bytes>& frames) {
    std::vector<Attempt> attempts;
    for (const RecordingTransport::Event& e : recorder.Events()) {
        if (e.written) {
            const auto frame = std::find(frames.begin(), frames.end(), e.bytes);
            FuzzCheck(frame != frames.end(), "only the file's frames are written");
            attempts.push_back({static_cast<std::size_t>(frame - frames.begin()), e.at, {}, 0});
        } else if (e.polled && !attempts.empty() && !attempts.back().reply &&
                   e.bytes[0] != BL_NOTHING) {
            attempts.back().reply = e.bytes[0];
            attempts.back().replyAt = e.at;
        }
    }
    return attempts;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzInput in(std::span(data, size));
    const std::uint8_t header = in.Byte();
    const TransferProfile& p = ProfileOf(header);
    const std::size_t count = 1 + ((header >> 2) & 3);
    const std::vector<Bytes> frames = Frames(count);

    VirtualClock clock;
    ScriptedTransport device(clock);
    Script(in, device);
    RecordingTransport recorder(device, clock);
    FormattingLog log;
    BootloaderInfo info;
    const int result =
        RunTransfer({recorder, clock, log}, p, {FileOf(count).Path(), nullptr, {}}, info);

    const std::array codes{0,
                           p.writeFailed.code,
                           p.statusFailed.code,
                           p.readFailed.code,
                           p.notReady.code,
                           p.tooManyErrors.code};
    FuzzCheck(std::find(codes.begin(), codes.end(), result) != codes.end(),
              "the transfer ends with success or one of the link's codes");
    FuzzCheck(device.closeCount == 1, "the link is closed once, whatever the end");

    const std::vector<Attempt> attempts = Attempts(recorder, frames);
    FuzzCheck(attempts.empty() ? device.failWriteNumber == 1 : attempts.front().frame == 0,
              "the first frame goes out first");
    std::size_t inARow = 0;
    bool signature = false;
    for (std::size_t k = 0; k < attempts.size(); ++k) {
        const Attempt& a = attempts[k];
        const bool inTime = a.reply && a.replyAt <= a.writtenAt + p.afterFrameMs + kReplyTimeoutMs;
        const bool accepted = inTime && Accepting(*a.reply);
        signature = signature || (accepted && *a.reply == BL_SIGNATURE_ERROR);
        inARow = k > 0 && attempts[k - 1].frame == a.frame ? inARow + 1 : 1;
        FuzzCheck(inARow <= 4, "a frame goes out at most four times in a row");
        if (k + 1 < attempts.size()) {
            const std::size_t next = attempts[k + 1].frame;
            FuzzCheck(next == (accepted ? a.frame + 1 : a.frame),
                      "the next frame follows an acknowledgement in time, else the frame again");
            FuzzCheck(!a.reply || *a.reply != BL_NOT_READY,
                      "nothing is sent after the bootloader said it is not ready");
        }
    }
    if (result == 0) {
        const bool lastAccepted =
            !attempts.empty() && attempts.back().frame == count - 1 && attempts.back().reply &&
            Accepting(*attempts.back().reply) &&
            attempts.back().replyAt <= attempts.back().writtenAt + p.afterFrameMs + kReplyTimeoutMs;
        FuzzCheck(lastAccepted, "success only when every frame got an acknowledgement");
    }
    if (result == p.notReady.code) {
        FuzzCheck(!attempts.empty() && attempts.back().reply == BL_NOT_READY,
                  "not ready only when the bootloader said so");
    }
    FuzzCheck(info.signatureError == signature,
              "the signature error is reported exactly when a signature reply was taken");
    return 0;
}
