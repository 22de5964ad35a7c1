#include <gtest/gtest.h>

#include "engine/bootloader_protocol.h"
#include "engine/link_profiles.h"
#include "support/recording_log.h"
#include "support/scripted_transport.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

struct Fixture {
    VirtualClock clock;
    ScriptedTransport transport{clock};
    RecordingLog log;
    BootloaderInfo info;
    LinkContext Link() { return {transport, clock, log}; }
};

// Expected outcomes of the single attempt, per link.
struct SingleCase {
    const char* name;
    const SingleSyncProfile& (*profile)();
    int source;
    int nothingCode;
    std::string nothingLine;
    int shortCode;
    std::string shortLine;  // for a 4-byte answer
    int badEndCode;
    std::string badEndLine;
    int tooLongCode;  // six bytes waiting
    std::string tooLongLine;
    int floodCode;  // 33 bytes waiting
    std::string floodLine;
    std::string doneLine;
};

const SingleCase kSerial{
    "Serial",
    SerialSyncProfile,
    30,
    -4,
    "~COM_SynchroniseBootloader() nothing received",
    -7,
    "~COM_SynchroniseBootloader() wrong number of byte received (4)",
    -8,
    "~COM_SynchroniseBootloader() data- or format-error",
    -7,
    "~COM_SynchroniseBootloader() wrong number of byte received (6)",
    -5,
    "~COM_SynchroniseBootloader() to much bytes received (33)",
    "~COM_SynchroniseBootloader()",
};

const SingleCase kNetwork{
    "Network",
    NetworkSyncProfile,
    20,
    -3,
    "~SynchroniseBootloader() error 11 in recv()",
    -4,
    "~SynchroniseBootloader() data- or format-error",
    -4,
    "~SynchroniseBootloader() data- or format-error",
    -4,
    "~SynchroniseBootloader() data- or format-error",
    0,  // a datagram socket reports an oversized answer as a failed receive
    "",
    "~SynchroniseBootloader()",
};

class SingleAttempt : public ::testing::TestWithParam<SingleCase> {
  protected:
    int Run() { return SynchroniseSingle(f.Link(), GetParam().profile(), f.info); }
    Fixture f;
};

}  // namespace

TEST_P(SingleAttempt, GoodAnswerStoresInfoAndConfirmsWithStart) {
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(f.info.versionHigh, 0x01);
    EXPECT_EQ(f.info.versionLow, 0x05);
    EXPECT_EQ(f.info.deviceId, 0x07);
    EXPECT_EQ(f.transport.writes, (std::vector<Bytes>{{0xF0}, {0xF1}}));
    EXPECT_TRUE(f.log.HasLine(2, GetParam().source, GetParam().doneLine));
    // 50 ms before the answer is taken, 25 ms after BL_START, both keeping the UI alive.
    ASSERT_EQ(f.clock.Waits().size(), 2u);
    EXPECT_TRUE(f.clock.Waits()[0].pump);
    EXPECT_EQ(f.clock.Waits()[0].ms, 50u);
    EXPECT_TRUE(f.clock.Waits()[1].pump);
    EXPECT_EQ(f.clock.Waits()[1].ms, 25u);
    EXPECT_TRUE(f.transport.IsOpen());
}

TEST_P(SingleAttempt, AnswerIsDumpedAsReceivedBytes) {
    ASSERT_EQ(Run(), 0);
    const auto entries = f.log.Entries();
    const auto answer = std::find_if(entries.begin(), entries.end(),
                                     [](const auto& e) { return e.isDump && e.data.size() == 5; });
    ASSERT_NE(answer, entries.end());
    EXPECT_EQ(answer->level, 3);
    EXPECT_EQ(answer->source, GetParam().source + 2);
}

TEST_P(SingleAttempt, FailuresGiveTheirCodesAndKeepTheOldInfo) {
    const SingleCase& c = GetParam();
    struct Step {
        Bytes answer;
        bool silent;
        int code;
        std::string line;
    };
    const std::vector<Step> steps{
        {{}, true, c.nothingCode, c.nothingLine},
        {{0xFE, 0x01, 0x05, 0x07}, false, c.shortCode, c.shortLine},
        {{0xFE, 0x01, 0x05, 0x07, 0x00}, false, c.badEndCode, c.badEndLine},
        {{0xFE, 0x01, 0x05, 0x07, 0xFF, 0x00}, false, c.tooLongCode, c.tooLongLine},
        {Bytes(33, 0xFE), false, c.floodCode, c.floodLine},
    };
    f.info = {9, 9, 9, false};
    for (const Step& s : steps) {
        if (s.code == 0) {
            continue;
        }
        f.log.Clear();
        f.transport.answerSync = !s.silent;
        f.transport.syncAnswer = s.answer;
        EXPECT_EQ(Run(), s.code) << s.line;
        EXPECT_TRUE(f.log.HasLine(2, c.source, s.line)) << s.line;
        EXPECT_EQ(f.info.versionHigh, 9);
        EXPECT_EQ(f.transport.CountWrites(0xF1), 0u);
        EXPECT_TRUE(f.transport.IsOpen());
        // Whatever was left over must not leak into the next attempt.
        f.clock.Advance(100);
        Bytes drain(64);
        f.transport.Read(drain);
    }
}

TEST_P(SingleAttempt, ClosedLinkAndFailedWrites) {
    const SingleCase& c = GetParam();
    f.transport.open = false;
    EXPECT_EQ(Run(), -1);
    EXPECT_TRUE(f.transport.writes.empty());

    f.transport.open = true;
    f.transport.failWriteNumber = 1;
    EXPECT_EQ(Run(), -2);

    f.transport.failWriteNumber = 3;  // the BL_START of the next attempt
    const int startFailed = c.source == 30 ? -9 : -5;
    EXPECT_EQ(Run(), startFailed);
}

INSTANTIATE_TEST_SUITE_P(Links, SingleAttempt, ::testing::Values(kSerial, kNetwork),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SingleAttemptSerial, FloodOfBytesIsPurged) {
    Fixture f;
    f.transport.syncAnswer = Bytes(40, 0x00);
    EXPECT_EQ(SynchroniseSingle(f.Link(), SerialSyncProfile(), f.info), -5);
    Bytes rest(64);
    EXPECT_EQ(f.transport.Read(rest).count, 0u);
}

namespace {

struct HuntingCase {
    const char* name;
    const HuntingSyncProfile& (*profile)();
    unsigned deadlineMs;
    bool pumps;
    int source;
    int receivedSource;
    std::string shortLine;    // three bytes after 0xFE
    std::string badEndLine;   // end byte 0x00
    std::string timeoutLine;  // empty: none
};

const HuntingCase kFtdi{"Ftdi",
                        FtdiSyncProfile,
                        2500,
                        false,
                        10,
                        10,
                        "~Dev_SynchroniseBootloader() - timeout2 (recv 3 byte)",
                        "~Dev_SynchroniseBootloader() - wrong end char",
                        ""};
const HuntingCase kSilabs{"Silabs",
                          SilabsSyncProfile,
                          1000,
                          true,
                          50,
                          52,
                          "BootLoader response to short (3 byte)",
                          "BootLoader response false (end char 0)",
                          "~Dev_SynchroniseBootloader() timeout"};

class Hunting : public ::testing::TestWithParam<HuntingCase> {
  protected:
    int Run() { return SynchroniseHunting(f.Link(), GetParam().profile(), f.info); }
    Fixture f;
};

}  // namespace

TEST_P(Hunting, FindsTheAnswerAfterNoise) {
    f.transport.syncAnswer = {0x00, 0x12, 0xFE, 0x01, 0x05, 0x07, 0xFF};
    ASSERT_EQ(Run(), 0);
    EXPECT_EQ(f.info.versionHigh, 1);
    EXPECT_EQ(f.info.versionLow, 5);
    EXPECT_EQ(f.info.deviceId, 7);
    EXPECT_EQ(f.transport.writes, (std::vector<Bytes>{{0xF0}, {0xF1}}));
    // Every wait of this link is of its kind; the last is the 50 ms after BL_START.
    for (const auto& w : f.clock.Waits()) {
        EXPECT_EQ(w.pump, GetParam().pumps);
    }
    EXPECT_EQ(f.clock.Waits().back().ms, 50u);
}

TEST_P(Hunting, LinkSpecificLinesOnSuccess) {
    f.transport.syncAnswer = {0x33, 0xFE, 0x01, 0x05, 0x07, 0xFF};
    ASSERT_EQ(Run(), 0);
    if (GetParam().source == 10) {
        EXPECT_TRUE(f.log.HasLine(4, 10, "Dev_SynchroniseBootloader() - recv. byte (0x33)"));
        EXPECT_TRUE(f.log.HasLine(4, 10, "Dev_SynchroniseBootloader() - recv. byte (0xFE)"));
        EXPECT_EQ(f.log.Lines().size(), 2u);
    } else {
        EXPECT_TRUE(f.log.HasLine(4, 50, "BootLoader resonse: Version 1.5 / Device 7"));
        EXPECT_TRUE(f.log.HasLine(4, 50, "~Dev_SynchroniseBootloader() done"));
    }
}

TEST_P(Hunting, ShortAnswerIsRetriedUntilTheDeadline) {
    const HuntingCase& c = GetParam();
    f.transport.syncAnswer = {0xFE, 0x01, 0x05, 0x07};
    const std::uint64_t start = f.clock.NowMs();
    EXPECT_EQ(Run(), -10);
    EXPECT_GE(f.clock.NowMs() - start, c.deadlineMs);
    EXPECT_LT(f.clock.NowMs() - start, c.deadlineMs + 200);
    EXPECT_GT(f.transport.CountWrites(0xF0), 5u);
    EXPECT_EQ(f.transport.CountWrites(0xF1), 0u);
    EXPECT_TRUE(f.log.HasLine(4, c.source, c.shortLine));
    // The short answer is dumped: with the 0xFE in front on the FTDI link.
    const auto entries = f.log.Entries();
    const auto dump = std::find_if(entries.begin(), entries.end(), [](const auto& e) {
        return e.isDump && e.data.size() >= 3 && e.data.back() == 0x07;
    });
    ASSERT_NE(dump, entries.end());
    EXPECT_EQ(dump->data.size(), c.source == 10 ? 4u : 3u);
    EXPECT_EQ(dump->source, c.receivedSource);
}

TEST_P(Hunting, WrongEndByteIsRetried) {
    const HuntingCase& c = GetParam();
    f.transport.syncAnswer = {0xFE, 0x01, 0x05, 0x07, 0x00};
    f.info = {3, 3, 3, false};
    EXPECT_EQ(Run(), -10);
    EXPECT_GT(f.log.CountLines(c.badEndLine), 1u);
    EXPECT_EQ(f.info.versionHigh, 3);
}

TEST_P(Hunting, SilentDeviceTimesOut) {
    const HuntingCase& c = GetParam();
    f.transport.answerSync = false;
    const std::uint64_t start = f.clock.NowMs();
    EXPECT_EQ(Run(), -10);
    EXPECT_GE(f.clock.NowMs() - start, c.deadlineMs);
    // Each round: up to 50 ms of hunting, then a 50 ms pause.
    EXPECT_NEAR(static_cast<double>(f.transport.CountWrites(0xF0)), c.deadlineMs / 100.0, 1.0);
    if (c.timeoutLine.empty()) {
        EXPECT_TRUE(f.log.Lines().empty());
    } else {
        EXPECT_TRUE(f.log.HasLine(4, c.source, c.timeoutLine));
    }
}

INSTANTIATE_TEST_SUITE_P(Links, Hunting, ::testing::Values(kFtdi, kSilabs),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(HuntingSilabs, ClosedPortAndFailedSyncWrite) {
    Fixture f;
    f.transport.open = false;
    EXPECT_EQ(SynchroniseHunting(f.Link(), SilabsSyncProfile(), f.info), -1);
    EXPECT_TRUE(f.log.HasLine(4, 50, "~Dev_SynchroniseBootloader() - port is closed"));

    Fixture g;
    g.transport.failWriteNumber = 1;
    EXPECT_EQ(SynchroniseHunting(g.Link(), SilabsSyncProfile(), g.info), 0);
    EXPECT_TRUE(g.log.HasLine(4, 50, "error 5 in SI_Write()"));

    // A device gone: every write fails at once, and each attempt still pauses, dispatching.
    Fixture gone;
    gone.transport.failWriteNumber = 1;
    gone.transport.failLaterWrites = true;
    EXPECT_EQ(SynchroniseHunting(gone.Link(), SilabsSyncProfile(), gone.info), -10);
    EXPECT_EQ(gone.log.CountLines("error 5 in SI_Write()"), 20u);
    for (const auto& w : gone.clock.Waits()) {
        EXPECT_TRUE(w.pump);
    }
}

TEST(HuntingFtdi, FailedSyncWriteIsIgnored) {
    Fixture f;
    f.transport.failWriteNumber = 1;
    f.transport.Arrive({0xFE, 0x02, 0x10, 0x01, 0xFF});
    EXPECT_EQ(SynchroniseHunting(f.Link(), FtdiSyncProfile(), f.info), 0);
    EXPECT_EQ(f.info.versionLow, 0x10);
}
