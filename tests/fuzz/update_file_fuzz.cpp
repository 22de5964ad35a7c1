// The update file from its text to the wire; every input is a file's content. Each byte is
// the value of its pair's leading hexadecimal digits; the frame check accepts exactly the
// images that split into well-formed frames; over each link's transfer an accepted file goes
// out frame by frame to its last byte, and a refused one sends nothing.
#include <algorithm>
#include <array>
#include <charconv>
#include <optional>
#include <vector>

#include "engine/bootloader_protocol.h"
#include "engine/link_profiles.h"
#include "engine/protocol.h"
#include "engine/update_file.h"
#include "fuzz_support.h"
#include "memory_file.h"
#include "support/scripted_transport.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// The image split by the format alone: a big-endian L, then L bytes, L at most 276, frame
// after frame to the last byte.
struct Split {
    std::vector<Bytes> frames;
    std::optional<unsigned> badLength;  // L of the first frame that breaks the format
};

Split SplitFrames(const Bytes& image) {
    Split split;
    std::size_t at = 0;
    do {
        const std::size_t left = image.size() - at;
        const unsigned length = (left >= 1 ? image[at] << 8 : 0) | (left >= 2 ? image[at + 1] : 0);
        if (left < 2 || length > kMaxFrameBody || left - 2 < length) {
            split.badLength = length;
            return split;
        }
        split.frames.emplace_back(image.begin() + static_cast<long>(at),
                                  image.begin() + static_cast<long>(at + 2 + length));
        at += 2 + length;
    } while (at < image.size());
    return split;
}

// The byte a pair of characters stands for: its leading hexadecimal digits, 0 for none.
std::uint8_t PairValue(char high, char low) {
    const std::array<char, 2> text{high, low};
    std::uint8_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value, 16);
    return value;
}

class ProgressRecord final : public ProgressSink {
  public:
    void SetRange(int, int) override {}
    void SetPos(int position) override { positions.push_back(position); }
    std::vector<int> positions;
};

void CheckTransfer(const std::string& path, const TransferProfile& profile, bool oddSize,
                   const Split& split) {
    VirtualClock clock;
    ScriptedTransport device(clock);
    FormattingLog log;
    ProgressRecord progress;
    BootloaderInfo info;
    const int result = RunTransfer({device, clock, log}, profile, {path, &progress, {}}, info);
    if (oddSize) {
        FuzzCheck(result == profile.wrongFileSize.code && device.writes.empty(),
                  "a file of odd size is refused and sends nothing");
        return;
    }
    if (split.badLength) {
        FuzzCheck(result == profile.formatError.code && device.writes.empty(),
                  "a file the frame check refuses sends nothing");
        return;
    }
    FuzzCheck(result == 0, "a well-formed file goes through a device that accepts every frame");
    FuzzCheck(device.writes == split.frames,
              "an accepted file goes out frame by frame, each once, to its last byte");
    FuzzCheck(device.closeCount == 1, "the link is closed once at the end");
    FuzzCheck(std::is_sorted(progress.positions.begin(), progress.positions.end()) &&
                  progress.positions.front() == 0 && progress.positions.back() == 100,
              "the progress rises from 0 to 100");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const MemoryFile file;
    const std::span<const std::uint8_t> text(data, size);
    FuzzCheck(file.Valid() && file.Write(text), "the update file can be written");

    FuzzCheck(UpdateFileLength(file.Path()) == static_cast<long long>(size),
              "the file's length is its size");
    const UpdateFileRead read = ReadUpdateFile(file.Path());
    const bool oddSize = size % 2 != 0;
    if (oddSize) {
        FuzzCheck(
            read.outcome == ReadOutcome::OddSize && read.detail == static_cast<long long>(size),
            "a file of odd size is refused with its size");
    } else {
        FuzzCheck(read.outcome == ReadOutcome::Ok && read.image.bytes.size() == size / 2,
                  "a file of even size decodes into half as many bytes");
        for (std::size_t i = 0; i < size / 2; ++i) {
            const char high = static_cast<char>(text[2 * i]);
            const char low = static_cast<char>(text[2 * i + 1]);
            FuzzCheck(read.image.bytes[i] == PairValue(high, low) &&
                          DecodePair(high, low) == read.image.bytes[i],
                      "each byte is its pair's leading hexadecimal digits, 0 for none");
        }
    }
    const Split split = SplitFrames(read.image.bytes);
    if (!oddSize) {
        FuzzCheck(FindMalformedFrame(read.image.bytes) == split.badLength,
                  "the frame check accepts exactly the images that split into frames, and "
                  "names the length of the first that does not");
    }
    // Each link's transfer in turn, by the number of bytes the file decodes into.
    const std::array profiles{&SerialTransferProfile(), &NetworkTransferProfile(),
                              &FtdiTransferProfile(), &SilabsTransferProfile()};
    CheckTransfer(file.Path(), *profiles[size / 2 % profiles.size()], oddSize, split);
    return 0;
}
