#include <gtest/gtest.h>

#include "engine/bootloader_protocol.h"
#include "engine/link_profiles.h"
#include "support/recording_log.h"
#include "support/scripted_transport.h"
#include "support/temp_dir.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

class RecordingProgress final : public ProgressSink {
  public:
    void SetRange(int low, int high) {
        calls.push_back("range " + std::to_string(low) + ".." + std::to_string(high));
    }
    void SetPos(int position) {
        calls.push_back("pos " + std::to_string(position));
        positions.push_back(position);
    }
    void FrameSent(int) { calls.push_back("frame"); }
    bool StopRequested() { return calls.size() >= stopAtCall; }
    std::vector<std::string> calls;
    std::vector<int> positions;
    std::size_t stopAtCall = SIZE_MAX;  // asked to stop once this many calls came
};

// What each link's transfer must log and return; written out here rather than read from
// the profiles, so a wrong text or code in a profile shows.
struct LinkCase {
    const char* name;
    const TransferProfile& (*profile)();
    int source, sentSource, replySource, replyLevel;
    bool opensItself;
    int notOpenCode, fileInUseCode, oddSizeCode, formatCode, writeCode, tooManyCode;
    std::string notOpenLine, fileInUseLine, oddSizeLine, formatLine, writeLine;
    std::string sendFrameLine, crcLine, timeoutFFLine, timeout55Line, notReadyLine, tooManyLine,
        doneLine;
    int writeLevel;
    unsigned afterFrameMs;
    bool pollPumps;
};

const LinkCase kSerial{"Serial",
                       SerialTransferProfile,
                       30,
                       31,
                       32,
                       3,
                       false,
                       -1,
                       -2,
                       -3,
                       -6,
                       -7,
                       -10,
                       "L2 S30 ~COM_UpdateAVR() no connection",
                       "L4 S30 ~COM_UpdateAVR() - file in use",
                       "L4 S30 ~COM_UpdateAVR() - wrong filesize (3)",
                       "L4 S30 ~COM_UpdateAVR() - format error (length 277)",
                       "L2 S30 ~COM_UpdateAVR() error 5 in WriteFile()",
                       "L4 S30 COM_UpdateAVR() - send frame 1 (5, 0x0004)",
                       "L4 S30 COM_UpdateAVR() - CRC error",
                       "L4 S30 COM_UpdateAVR() - timeout (FF)",
                       "L4 S30 COM_UpdateAVR() - timeout (55)",
                       "L4 S30 ~COM_UpdateAVR() - bootloader not ready (recv. 0x55)",
                       "L4 S30 ~COM_UpdateAVR() - too many errors",
                       "L4 S30 ~COM_UpdateAVR() - done",
                       2,
                       10,
                       true};

const LinkCase kFtdi{"Ftdi",
                     FtdiTransferProfile,
                     10,
                     11,
                     10,
                     4,
                     true,
                     -5,
                     -1,
                     -2,
                     -5,
                     -6,
                     -7,
                     "L4 S10 ~Dev_UpdateAVR() - unable to open port",
                     "L4 S10 ~Dev_UpdateAVR() - file in use",
                     "L4 S10 ~Dev_UpdateAVR() - wrong filesize (3)",
                     "L4 S10 ~Dev_UpdateAVR() - format error (length 277)",
                     "L4 S10 ~Dev_UpdateAVR() - write error",
                     "L4 S10 Dev_UpdateAVR() - send frame 1 (5, 0x0004)",
                     "L4 S10 Dev_UpdateAVR() - CRC error",
                     "L4 S10 Dev_UpdateAVR() - timeout (FF)",
                     "L4 S10 Dev_UpdateAVR() - timeout (55)",
                     "L4 S10 Dev_UpdateAVR() - bootloader not ready (recv. 0x55)",
                     "L4 S10 ~Dev_UpdateAVR() - too many errors",
                     "L4 S10 ~Dev_UpdateAVR() - done",
                     4,
                     0,
                     false};

const LinkCase kSilabs{"Silabs",
                       SilabsTransferProfile,
                       50,
                       51,
                       52,
                       4,
                       false,
                       -1,
                       -2,
                       -3,
                       -6,
                       -7,
                       -8,
                       "L4 S50 ~Dev_UpdateAVR() - port is closed",
                       "L4 S50 ~Dev_UpdateAVR() - file in use",
                       "L4 S50 ~Dev_UpdateAVR() - wrong filesize (3)",
                       "L4 S50 ~Dev_UpdateAVR() - format error (length 277)",
                       "L4 S50 ~Dev_UpdateAVR() - write error",
                       "L4 S50 Dev_UpdateAVR() - send frame 1 (5, 0x0004)",
                       "L4 S50 Dev_UpdateAVR() - CRC error",
                       "L4 S50 Dev_UpdateAVR() - timeout (FF)",
                       "L4 S50 Dev_UpdateAVR() - timeout (55)",
                       "L4 S50 Dev_UpdateAVR() - bootloader not ready (recv. 0x55)",
                       "L4 S50 ~Dev_UpdateAVR() - too many errors",
                       "L4 S50 ~Dev_UpdateAVR() - done",
                       4,
                       0,
                       true};

const LinkCase kNetwork{"Network",
                        NetworkTransferProfile,
                        20,
                        21,
                        22,
                        4,
                        false,
                        -1,
                        -2,
                        -3,
                        -6,
                        -7,
                        -8,
                        "L2 S20 ~SynchroniseBootloader() no connection",
                        "L4 S20 ~Dev_UpdateAVR() - file in use",
                        "L4 S20 ~Dev_UpdateAVR() - wrong filesize (3)",
                        "L4 S20 ~UpdateAVR() - format error (length 277)",
                        "L2 S20 ~UpdateAVR() error 5 in send()",
                        "L4 S20 UpdateAVR() - send frame 1 (5, 0x0004)",
                        "L4 S20 UpdateAVR() - CRC error",
                        "L4 S20 UpdateAVR() - timeout (FF)",
                        "L4 S20 UpdateAVR() - timeout (55)",
                        "L4 S20 ~UpdateAVR() - bootloader not ready (recv. 0x55)",
                        "L4 S20 ~UpdateAVR() - too many errors",
                        "L4 S20 ~UpdateAVR() - done",
                        2,
                        10,
                        true};

std::string Hex(const Bytes& bytes) {
    static const char* digits = "0123456789abcdef";
    std::string text;
    for (std::uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

Bytes FrameOf(unsigned length, std::uint8_t fill) {
    Bytes f{static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length & 0xFF)};
    for (unsigned i = 0; i < length; ++i) {
        f.push_back(static_cast<std::uint8_t>(fill + i));
    }
    return f;
}

// Three frames: L = 3, 4 and 276 at offsets 0, 5 and 11; 289 bytes in all.
const std::vector<Bytes> kFrames{FrameOf(3, 0x10), FrameOf(4, 0x20), FrameOf(276, 0x30)};

Bytes Join(const std::vector<Bytes>& frames) {
    Bytes all;
    for (const Bytes& f : frames) {
        all.insert(all.end(), f.begin(), f.end());
    }
    return all;
}

class Transfer : public ::testing::TestWithParam<LinkCase> {
  protected:
    int Run(const std::string& path, bool openable = true) {
        TransferRequest request{path, &progress, nullptr};
        if (GetParam().opensItself) {
            transport.open = false;
            request.openLink = [this, openable] {
                ++opens;
                transport.open = openable;
                return openable;
            };
        }
        return RunTransfer({transport, clock, log}, GetParam().profile(), request, info);
    }
    std::string Image(const Bytes& bytes) { return dir.Write("update.enc", Hex(bytes)); }
    std::string Good() { return Image(Join(kFrames)); }
    bool Logged(const std::string& key) const {
        const auto lines = log.Lines();
        return std::find(lines.begin(), lines.end(), key) != lines.end();
    }
    std::size_t Count(const std::string& key) const {
        const auto lines = log.Lines();
        return static_cast<std::size_t>(std::count(lines.begin(), lines.end(), key));
    }

    TempDir dir;
    VirtualClock clock;
    ScriptedTransport transport{clock};
    RecordingLog log;
    RecordingProgress progress;
    BootloaderInfo info;
    int opens = 0;
};

}  // namespace

TEST_P(Transfer, EveryFrameAcceptedSendsTheImageByteExact) {
    ASSERT_EQ(Run(Good()), 0);
    EXPECT_EQ(transport.Frames(), kFrames);
    EXPECT_EQ(transport.closeCount, 1);
    EXPECT_FALSE(info.signatureError);
    EXPECT_TRUE(Logged(GetParam().sendFrameLine));
    EXPECT_TRUE(Logged(GetParam().doneLine));
    // Range and 0 first, the per cent of the next offset after each reply, 100 last.
    EXPECT_EQ(progress.calls.front(), "range 0..100");
    EXPECT_EQ(progress.positions, (std::vector<int>{0, 5 * 100 / 289, 11 * 100 / 289, 100, 100}));
}

TEST_P(Transfer, FramesAreDumpedAndRepliesToo) {
    ASSERT_EQ(Run(Good()), 0);
    std::size_t frameDumps = 0;
    std::size_t replyDumps = 0;
    for (const auto& e : log.Entries()) {
        if (e.isDump && e.source == GetParam().sentSource && e.data.size() > 1) {
            ++frameDumps;
        }
        if (e.isDump && e.source == GetParam().replySource && e.data == Bytes{0x11}) {
            EXPECT_EQ(e.level, GetParam().replyLevel);
            ++replyDumps;
        }
    }
    EXPECT_EQ(frameDumps, 3u);
    EXPECT_EQ(replyDumps, 3u);
}

TEST_P(Transfer, SendFrameLineComesBeforeOrAfterTheWrite) {
    transport.failWriteNumber = 1;
    EXPECT_EQ(Run(Good()), GetParam().writeCode);
    const bool before = GetParam().afterFrameMs > 0;  // serial and network log first
    EXPECT_EQ(Count(GetParam().sendFrameLine.substr(0, GetParam().sendFrameLine.find("frame")) +
                    "frame 0 (0, 0x0003)"),
              before ? 1u : 0u);
    EXPECT_TRUE(Logged(GetParam().writeLine));
    EXPECT_EQ(transport.closeCount, 1);
}

TEST_P(Transfer, ThreeCrcErrorsThenAcceptanceSucceeds) {
    for (int i = 0; i < 3; ++i) {
        transport.AddReply(0x22);
    }
    ASSERT_EQ(Run(Good()), 0);
    EXPECT_EQ(Count(GetParam().crcLine), 3u);
    const std::vector<Bytes> frames = transport.Frames();
    ASSERT_EQ(frames.size(), 6u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(frames[i], kFrames[0]) << "the same frame goes again";
    }
    // The repeated frame keeps its number: the second frame is still frame 1.
    EXPECT_TRUE(Logged(GetParam().sendFrameLine));
}

TEST_P(Transfer, FourthFailureInARowEndsTheTransfer) {
    for (int i = 0; i < 4; ++i) {
        transport.AddReply(0x22);
    }
    EXPECT_EQ(Run(Good()), GetParam().tooManyCode);
    EXPECT_EQ(transport.Frames().size(), 4u);
    EXPECT_TRUE(Logged(GetParam().tooManyLine));
    EXPECT_EQ(transport.closeCount, 1);
    EXPECT_EQ(progress.positions.back(), 0);
}

TEST_P(Transfer, FailuresOfDifferentFramesDoNotAddUp) {
    for (int frame = 0; frame < 3; ++frame) {
        transport.AddReply(0x22);
        transport.AddReply(0x22);
        transport.AddReply(0x55);
        transport.AddReply(0x11);
    }
    EXPECT_EQ(Run(Good()), 0);
    EXPECT_EQ(transport.Frames().size(), 12u);
}

TEST_P(Transfer, SilenceAndAnExplicitFFAreBothTimeouts) {
    transport.AddReply(std::nullopt);
    transport.AddReply(0xFF);
    transport.AddReply(0x55);
    const std::uint64_t start = clock.NowMs();
    ASSERT_EQ(Run(Good()), 0);
    EXPECT_EQ(Count(GetParam().timeoutFFLine), 2u);
    EXPECT_EQ(Count(GetParam().timeout55Line), 1u);
    EXPECT_EQ(transport.Frames().size(), 6u);
    // Two full reply windows went by, each of at least 2500 ms.
    EXPECT_GE(clock.NowMs() - start, 5000u);
    EXPECT_LT(clock.NowMs() - start, 5200u);
}

TEST_P(Transfer, FourSilentRepliesEndWithTooManyErrors) {
    for (int i = 0; i < 4; ++i) {
        transport.AddReply(std::nullopt);
    }
    EXPECT_EQ(Run(Good()), GetParam().tooManyCode);
    EXPECT_EQ(Count(GetParam().timeoutFFLine), 4u);
}

TEST_P(Transfer, NotReadyStopsAtOnce) {
    transport.AddReply(0x11);
    transport.AddReply(0xFE);
    EXPECT_EQ(Run(Good()), -99);
    EXPECT_EQ(transport.Frames().size(), 2u);
    EXPECT_TRUE(Logged(GetParam().notReadyLine));
    EXPECT_EQ(transport.closeCount, 1);
    EXPECT_FALSE(Logged(GetParam().doneLine));
}

TEST_P(Transfer, SignatureErrorAdvancesAndLeavesTheFlagSet) {
    transport.AddReply(0x11);
    transport.AddReply(0x33);
    info.signatureError = true;  // cleared at the start of every update
    transport.AddReply(0x11);
    ASSERT_EQ(Run(Good()), 0);
    EXPECT_TRUE(info.signatureError);
    EXPECT_EQ(transport.Frames(), kFrames);
    const std::string silabsLine = "L4 S50 Dev_UpdateAVR() - Signature error";
    EXPECT_EQ(Logged(silabsLine), GetParam().source == 50);
}

TEST_P(Transfer, SignatureFlagIsClearedAtTheStart) {
    info.signatureError = true;
    ASSERT_EQ(Run(Good()), 0);
    EXPECT_FALSE(info.signatureError);
}

TEST_P(Transfer, MalformedImageSendsNothing) {
    // Two good frames, then one whose L is 277.
    Bytes image = Join({kFrames[0], kFrames[1], FrameOf(277, 0)});
    EXPECT_EQ(Run(Image(image)), GetParam().formatCode);
    EXPECT_TRUE(transport.Frames().empty()) << "nothing of a broken file reaches the device";
    EXPECT_TRUE(Logged(GetParam().formatLine));
    EXPECT_EQ(transport.closeCount, 1);
}

TEST_P(Transfer, ReadingFailuresLeaveTheLinkAsItWas) {
    EXPECT_EQ(Run((dir.Path() / "missing.enc").string()), GetParam().fileInUseCode);
    EXPECT_TRUE(Logged(GetParam().fileInUseLine));
    EXPECT_EQ(Run(dir.Write("odd.enc", "ABC")), GetParam().oddSizeCode);
    EXPECT_TRUE(Logged(GetParam().oddSizeLine));
    EXPECT_EQ(transport.closeCount, 0);
    EXPECT_TRUE(transport.writes.empty());
    EXPECT_EQ(opens, 0) << "the device is not opened for a file that cannot be read";
    if (!GetParam().opensItself) {
        EXPECT_TRUE(transport.IsOpen());
    }
}

TEST_P(Transfer, LinkThatIsNotOpen) {
    if (GetParam().opensItself) {
        EXPECT_EQ(Run(Good(), false), GetParam().notOpenCode);
        EXPECT_EQ(opens, 1);
        EXPECT_EQ(transport.closeCount, 1);
    } else {
        transport.open = false;
        EXPECT_EQ(Run(Good()), GetParam().notOpenCode);
    }
    EXPECT_TRUE(Logged(GetParam().notOpenLine));
    EXPECT_TRUE(transport.writes.empty());
    EXPECT_EQ(progress.calls, (std::vector<std::string>{"range 0..100", "pos 0"}));
}

TEST_P(Transfer, WaitsAfterFramesPollsAndAcceptances) {
    transport.AddReply(0x11, 3);  // the reply comes 3 ms after the frame
    ASSERT_EQ(Run(Image(kFrames[0])), 0);
    const auto& waits = clock.Waits();
    ASSERT_FALSE(waits.empty());
    std::size_t i = 0;
    if (GetParam().afterFrameMs > 0) {
        EXPECT_EQ(waits[0].ms, 10u);
        EXPECT_TRUE(waits[0].pump);
        i = 1;
    } else {
        // Polling starts at once: three empty polls with 1 ms pauses each.
        ASSERT_GE(waits.size(), 4u);
        for (; i < 3; ++i) {
            EXPECT_EQ(waits[i].ms, 1u);
            EXPECT_EQ(waits[i].pump, GetParam().pollPumps);
        }
    }
    // The pause after the acceptance is the last wait.
    EXPECT_EQ(waits.back().ms, 1u);
}

TEST_P(Transfer, NoProgressSinkMeansNoMessages) {
    TransferRequest request{Good(), nullptr, [this] {
                                transport.open = true;
                                return true;
                            }};
    if (GetParam().opensItself) {
        transport.open = false;
    }
    EXPECT_EQ(RunTransfer({transport, clock, log}, GetParam().profile(), request, info), 0);
    EXPECT_TRUE(progress.calls.empty());
}

TEST_P(Transfer, InputWaitingBeforeAFrameIsDroppedAndLogged) {
    struct Case {
        const char* what;
        std::uint8_t behindFirstReply;
        std::vector<Bytes> frames;
        std::size_t crcErrors;
    };
    // A copy of frame 0's acknowledgement must not answer frame 1, whose CRC error then
    // counts and makes it go again; a stray byte between frames changes nothing.
    for (const Case& c : {Case{"duplicated acknowledgement",
                               0x11,
                               {kFrames[0], kFrames[1], kFrames[1], kFrames[2]},
                               1},
                          Case{"stray byte", 0x22, kFrames, 0}}) {
        ScriptedTransport link{clock};
        link.AddReply(0x11, 1, {c.behindFirstReply});
        link.AddReply(c.crcErrors > 0 ? 0x22 : 0x11);
        RecordingLog trace;
        const TransferRequest request{Good(), nullptr, [&link] { return link.open = true; }};
        link.open = !GetParam().opensItself;
        EXPECT_EQ(RunTransfer({link, clock, trace}, GetParam().profile(), request, info), 0)
            << c.what;
        EXPECT_EQ(link.Frames(), c.frames) << c.what;
        const auto lines = trace.Lines();
        EXPECT_EQ(
            static_cast<std::size_t>(std::count(lines.begin(), lines.end(), GetParam().crcLine)),
            c.crcErrors)
            << c.what;
        // The dropped byte shows in the trace as input of the link, right before frame 1.
        const auto& entries = trace.Entries();
        const auto frame1 = std::find_if(entries.begin(), entries.end(), [&](const auto& e) {
            return e.isDump && e.source == GetParam().sentSource && e.data == c.frames[1];
        });
        ASSERT_NE(frame1, entries.end()) << c.what;
        const auto dropped = std::find_if(entries.begin(), frame1, [&](const auto& e) {
            return e.isDump && e.source == GetParam().replySource &&
                   e.level == GetParam().replyLevel && e.data == Bytes{c.behindFirstReply};
        });
        EXPECT_NE(dropped, frame1) << c.what;
    }
}

TEST_P(Transfer, AReplyJustInsideTheReplyTimeCounts) {
    transport.AddReply(0x11, GetParam().afterFrameMs + 2499);
    ASSERT_EQ(Run(Image(kFrames[0])), 0);
    EXPECT_EQ(transport.Frames().size(), 1u);
    EXPECT_FALSE(Logged(GetParam().timeoutFFLine));
}

// The protocol numbers no frames: a device that answers later than the reply time gets the
// frame again, and its late answer is taken for the resend, each later answer for the frame
// after the one it answers. The transfer ends as if all went well while the device received
// frame 0 twice; the README tells users what such a device gets.
TEST_P(Transfer, RepliesLaterThanTheReplyTimeCountForTheFollowingFrame) {
    for (int i = 0; i < 4; ++i) {
        transport.AddReply(0x11, GetParam().afterFrameMs + 2600);
    }
    EXPECT_EQ(Run(Good()), 0);
    EXPECT_EQ(transport.Frames(),
              (std::vector<Bytes>{kFrames[0], kFrames[0], kFrames[1], kFrames[2]}));
    EXPECT_EQ(Count(GetParam().timeoutFFLine), 1u);
}

// A stop is seen before a frame (a resend too) or while a reply is awaited: nothing goes out after.
TEST_P(Transfer, AStopEndsTheTransferAtTheNextFrameBoundary) {
    const struct {
        const char* when;
        std::size_t stopAtCall;  // range, pos 0, frame 0, the pos after its reply, ...
        std::optional<std::uint8_t> reply;
        std::size_t frames;
    } cases[] = {{"before the first frame", 2, 0x11, 0},
                 {"while the reply is awaited", 3, std::nullopt, 1},
                 {"after frame 0 was accepted", 4, 0x11, 1},
                 {"before frame 0 goes again", 4, 0x22, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.when);
        ScriptedTransport link{clock};
        link.AddReply(c.reply);
        link.open = !GetParam().opensItself;
        RecordingProgress shown;
        shown.stopAtCall = c.stopAtCall;
        const TransferRequest request{Good(), &shown, [&link] { return link.open = true; }};
        const std::uint64_t start = clock.NowMs();
        EXPECT_EQ(RunTransfer({link, clock, log}, GetParam().profile(), request, info),
                  kTransferStopped);
        EXPECT_EQ(link.Frames().size(), c.frames);
        EXPECT_EQ(link.closeCount, 1);
        EXPECT_LT(clock.NowMs() - start, kReplyTimeoutMs);  // a silent device is not waited for
    }
}

INSTANTIATE_TEST_SUITE_P(Links, Transfer, ::testing::Values(kSerial, kFtdi, kSilabs, kNetwork),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TransferSerial, PortFailuresWhilePollingCloseThePort) {
    struct Case {
        PollStatus status;
        int code;
        std::string line;
    };
    for (const Case& c :
         {Case{PollStatus::StatusFailed, -8, "~COM_UpdateAVR() error 31 in ClearCommError()"},
          Case{PollStatus::ReadFailed, -9, "~COM_UpdateAVR() error 31 in ReadFile()"}}) {
        TempDir dir;
        VirtualClock clock;
        ScriptedTransport transport{clock};
        RecordingLog log;
        BootloaderInfo info;
        transport.failPollNumber = 1;
        transport.failPollStatus = c.status;
        const TransferRequest request{dir.Write("u.enc", Hex(kFrames[0])), nullptr, nullptr};
        EXPECT_EQ(RunTransfer({transport, clock, log}, SerialTransferProfile(), request, info),
                  c.code);
        EXPECT_TRUE(log.HasLine(2, 30, c.line));
        EXPECT_EQ(transport.closeCount, 1);
    }
}

TEST(TransferNetwork, EachReplyByteIsLogged) {
    TempDir dir;
    VirtualClock clock;
    ScriptedTransport transport{clock};
    RecordingLog log;
    BootloaderInfo info;
    transport.AddReply(0x22);
    const TransferRequest request{dir.Write("u.enc", Hex(kFrames[0])), nullptr, nullptr};
    EXPECT_EQ(RunTransfer({transport, clock, log}, NetworkTransferProfile(), request, info), 0);
    EXPECT_TRUE(log.HasLine(4, 20, "UpdateAVR() - recv. byte (0x22)"));
    EXPECT_TRUE(log.HasLine(4, 20, "UpdateAVR() - recv. byte (0x11)"));
}

TEST(TransferFtdi, EmptyFileOpensTheDeviceThenEndsWithFormatError) {
    TempDir dir;
    VirtualClock clock;
    ScriptedTransport transport{clock};
    RecordingLog log;
    BootloaderInfo info;
    transport.open = false;
    const TransferRequest request{dir.Write("empty.enc", ""), nullptr, [&] {
                                      transport.open = true;
                                      return true;
                                  }};
    EXPECT_EQ(RunTransfer({transport, clock, log}, FtdiTransferProfile(), request, info), -5);
    EXPECT_TRUE(log.HasLine(4, 10, "~Dev_UpdateAVR() - format error (length 0)"));
    EXPECT_TRUE(transport.writes.empty());
    EXPECT_FALSE(transport.IsOpen());
}
