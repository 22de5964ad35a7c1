#include <gtest/gtest.h>

#include "sim/bootloader_sim.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

const Bytes kSync{0xF0};
const Bytes kStart{0xF1};

Bytes FrameOf(const Bytes& body) {
    Bytes frame(2 + body.size());
    frame[0] = static_cast<std::uint8_t>(body.size() >> 8);
    frame[1] = static_cast<std::uint8_t>(body.size() & 0xFF);
    std::copy(body.begin(), body.end(), frame.begin() + 2);
    return frame;
}

// One reply byte, or none, from a step's outputs.
std::optional<std::uint8_t> Reply(const std::vector<SimOutput>& out) {
    if (out.empty()) {
        return std::nullopt;
    }
    EXPECT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].bytes.size(), 1u);
    return out[0].bytes[0];
}

// A started bootloader at time 1000.
BootloaderSim Started(SimOptions options = {}) {
    BootloaderSim sim(std::move(options), 1000);
    sim.OnDatagram(kSync, 1000);
    sim.OnDatagram(kStart, 1001);
    return sim;
}

}  // namespace

TEST(BootloaderSim, AnswersEverySyncAndTakesFramesOnlyAfterStart) {
    SimOptions options;
    options.versionHigh = 2;
    options.versionLow = 0x10;
    options.deviceId = 7;
    BootloaderSim sim(options, 0);

    EXPECT_TRUE(sim.OnDatagram(FrameOf({1, 2}), 0).empty()) << "not started yet";
    const auto answer = sim.OnDatagram(kSync, 5);
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].bytes, (Bytes{0xFE, 2, 0x10, 7, 0xFF}));
    EXPECT_EQ(answer[0].atMs, 5u);
    EXPECT_EQ(sim.OnDatagram(kSync, 6).size(), 1u) << "a repeated request is answered again";
    EXPECT_TRUE(sim.OnDatagram(FrameOf({1, 2}), 7).empty());

    sim.OnDatagram(kStart, 8);
    EXPECT_EQ(sim.CurrentState(), BootloaderSim::State::ReceivingFrames);
    EXPECT_EQ(Reply(sim.OnDatagram(FrameOf({1, 2}), 9)), 0x11);
    EXPECT_EQ(sim.AcceptedImage(), FrameOf({1, 2}));
}

TEST(BootloaderSim, StartingDeviceIgnoresSyncUntilItsDelayHasPassed) {
    SimOptions options;
    options.syncDelayMs = 3000;
    BootloaderSim sim(options, 1000);
    EXPECT_TRUE(sim.OnDatagram(kSync, 3999).empty());
    EXPECT_EQ(sim.OnDatagram(kSync, 4000).size(), 1u);
    EXPECT_EQ(sim.SyncRequests(), 2u);
    EXPECT_EQ(sim.SyncAnswers(), 1u);

    sim.Restart(5000);  // a restart starts the delay again
    EXPECT_TRUE(sim.OnDatagram(kSync, 7999).empty());
    EXPECT_EQ(sim.OnDatagram(kSync, 8000).size(), 1u);
}

TEST(BootloaderSim, FaultScriptRepliesPerAttemptOfAFrame) {
    SimOptions options;
    options.replyDelayMs = 7;
    options.faults = {{1, 0x22, 2}, {1, std::nullopt, 1}, {2, 0x55, 1}, {2, 0x33, 1}, {3, 0xFE, 1}};
    BootloaderSim sim = Started(options);
    const Bytes f0 = FrameOf({0}), f1 = FrameOf({1}), f2 = FrameOf({2}), f3 = FrameOf({3});

    const auto first = sim.OnDatagram(f0, 2000);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(first[0].atMs, 2007u);
    EXPECT_EQ(Reply(sim.OnDatagram(f1, 2010)), 0x22);
    EXPECT_EQ(Reply(sim.OnDatagram(f1, 2020)), 0x22);
    EXPECT_EQ(Reply(sim.OnDatagram(f1, 2030)), std::nullopt);
    EXPECT_EQ(Reply(sim.OnDatagram(f1, 5000)), 0x11);
    EXPECT_EQ(Reply(sim.OnDatagram(f2, 5010)), 0x55);
    EXPECT_EQ(Reply(sim.OnDatagram(f2, 5020)), 0x33) << "accepted, wrong device";
    EXPECT_EQ(Reply(sim.OnDatagram(f3, 5030)), 0xFE);

    std::vector<unsigned> numbers;
    for (const SimFrame& f : sim.Frames()) {
        numbers.push_back(f.frameNumber);
    }
    EXPECT_EQ(numbers, (std::vector<unsigned>{0, 1, 1, 1, 1, 2, 2, 3}));
    Bytes image = f0;
    image.insert(image.end(), f1.begin(), f1.end());
    image.insert(image.end(), f2.begin(), f2.end());
    EXPECT_EQ(sim.AcceptedImage(), image);
    EXPECT_EQ(sim.AcceptedPayload(), (Bytes{0, 1, 2}));

    const auto summary = sim.EndSession(6000);
    ASSERT_TRUE(summary.has_value());
    EXPECT_EQ(summary->framesReceived, 8u);
    EXPECT_EQ(summary->framesAccepted, 3u);
    EXPECT_EQ(summary->crcErrors, 2u);
    EXPECT_EQ(summary->silent, 1u);
    EXPECT_EQ(summary->otherReplies, 1u);
    EXPECT_EQ(summary->signatureErrors, 1u);
    EXPECT_TRUE(summary->notReady);
}

TEST(BootloaderSim, DamagedDatagramIsAskedForAgain) {
    BootloaderSim sim = Started();
    EXPECT_EQ(Reply(sim.OnDatagram(Bytes{0x00, 0x05, 1, 2}, 2000)), 0x22) << "short";
    Bytes tooLong = FrameOf(Bytes(277, 0xAA));
    EXPECT_EQ(Reply(sim.OnDatagram(tooLong, 2010)), 0x22) << "L = 277";
    EXPECT_EQ(Reply(sim.OnDatagram(FrameOf(Bytes(276, 0xAA)), 2020)), 0x11) << "L = 276";
    EXPECT_FALSE(sim.Frames()[0].wellFormed);
}

TEST(BootloaderSim, SessionsEndWhenIdleOrWhenTheHostStartsOver) {
    SimOptions options;
    options.sessionIdleMs = 3000;
    BootloaderSim sim = Started(options);
    sim.OnDatagram(FrameOf({1}), 2000);
    EXPECT_FALSE(sim.EndIdleSession(4999).has_value());
    const auto idle = sim.EndIdleSession(5000);
    ASSERT_TRUE(idle.has_value());
    EXPECT_EQ(idle->session, 1u);
    EXPECT_EQ(idle->durationMs, 999u);

    sim.OnDatagram(kSync, 6000);
    sim.OnDatagram(kStart, 6001);
    sim.OnDatagram(FrameOf({2}), 6002);
    sim.OnDatagram(kSync, 6100);  // the host synchronises again: session 2 is over
    const auto ended = sim.TakeEndedSessions();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].session, 2u);
    EXPECT_EQ(ended[0].framesAccepted, 1u);
    EXPECT_NE(SummaryLine(ended[0], options).find("1 frames accepted (3 bytes)"),
              std::string::npos);
}

// A station probes its slot with whole synchronisations (BL_SYNC, BL_START) and no frame:
// those are no updates, and the update that follows is the first.
TEST(BootloaderSim, SynchronisationsWithoutFramesAreNoUpdates) {
    BootloaderSim sim = Started();  // a probe
    EXPECT_FALSE(sim.EndIdleSession(9000).has_value());
    for (const Bytes& sent : {kSync, kStart, FrameOf({1}), kSync, kStart}) {
        sim.OnDatagram(sent, 9100);
    }
    EXPECT_FALSE(sim.EndSession(9300).has_value());
    const auto ended = sim.TakeEndedSessions();
    ASSERT_EQ(ended.size(), 1u);
    EXPECT_EQ(ended[0].session, 1u);
    EXPECT_EQ(sim.AcceptedImage(), FrameOf({1})) << "a probe keeps the update's image";
}

TEST(BootloaderSim, StreamFramesAreCutByTheirLengthWhateverTheChunks) {
    BootloaderSim sim(SimOptions{}, 0);
    EXPECT_EQ(sim.OnStreamBytes(Bytes{0x00, 0xF0}, 0).size(), 1u) << "noise, then BL_SYNC";
    EXPECT_TRUE(sim.OnStreamBytes(Bytes{0xF1, 0x00, 0x03, 0xA1}, 1).empty());
    const auto replies = sim.OnStreamBytes(Bytes{0xA2, 0xA3, 0x00, 0x01, 0xB1, 0x00}, 2);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(sim.Frames()[0].bytes, (Bytes{0x00, 0x03, 0xA1, 0xA2, 0xA3}));
    EXPECT_EQ(sim.Frames()[1].bytes, (Bytes{0x00, 0x01, 0xB1}));

    // A frame whose rest never came is dropped; the host sends it whole again.
    EXPECT_TRUE(sim.OnStreamBytes(Bytes{0x05, 0xB2}, 3).empty());
    EXPECT_EQ(sim.OnStreamBytes(Bytes{0x00, 0x02, 0xC1, 0xC2}, 500).size(), 1u);
    ASSERT_EQ(sim.Frames().size(), 3u);
    EXPECT_EQ(sim.Frames()[2].bytes, (Bytes{0x00, 0x02, 0xC1, 0xC2}));
}

TEST(BootloaderSim, StreamSyncBetweenFramesStartsOver) {
    BootloaderSim sim(SimOptions{}, 0);
    sim.OnStreamBytes(Bytes{0xF0, 0xF1, 0x00, 0x01, 0x11}, 0);
    const auto answer = sim.OnStreamBytes(Bytes{0xF0}, 10);
    ASSERT_EQ(answer.size(), 1u);
    EXPECT_EQ(answer[0].bytes.size(), 5u);
    EXPECT_EQ(sim.CurrentState(), BootloaderSim::State::WaitingForStart);
    EXPECT_EQ(sim.TakeEndedSessions().size(), 1u);
}
