// The bootloader dialogue over a real pseudo-terminal, with a scripted bootloader on the far
// side, and the port failures the link must turn into its codes.

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

#include "engine/link_profiles.h"
#include "links/communication_com.h"
#include "links/serial_pty_peer.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int S = kSourceSerial;

class RecordingProgress final : public ProgressSink {
  public:
    void SetRange(int low, int high) override {
        calls.push_back("range " + std::to_string(low) + ".." + std::to_string(high));
    }
    void SetPos(int position) override { calls.push_back("pos " + std::to_string(position)); }
    std::vector<std::string> calls;
};

class SerialProtocol : public ::testing::Test {
  protected:
    void Open() { ASSERT_EQ(0, link.COM_Open(pty.Path(), 115200, 0, 8, 0)); }
    void OpenAndSynchronise() {
        Open();
        ASSERT_EQ(0, link.COM_SynchroniseBootloader());
    }
    std::string File(const std::vector<unsigned>& bodies) {
        return WriteUpdateFile(dir.Path().string(), bodies, &frames);
    }

    RecordingLog log;
    TempDir dir;
    PtyPair pty;
    ScriptedPtyPeer peer{pty};
    CCommunication_COM link{log};
    RecordingProgress progress;
    std::vector<Bytes> frames;
};

}  // namespace

TEST_F(SerialProtocol, SynchronisationStoresTheAnswerAndConfirms) {
    peer.AnswerSyncWith({0xFE, 0x02, 0x0A, 0x21, 0xFF});
    Open();
    EXPECT_EQ(0, link.COM_SynchroniseBootloader());
    EXPECT_EQ(0x02, link.GetBootloaderInfo().versionHigh);
    EXPECT_EQ(0x0A, link.GetBootloaderInfo().versionLow);
    EXPECT_EQ(0x21, link.GetBootloaderInfo().deviceId);
    ASSERT_TRUE(peer.WaitForBytes(2));
    EXPECT_EQ(Bytes({0xF0, 0xF1}), peer.Received());
    EXPECT_TRUE(log.HasLine(4, S, "COM_SynchroniseBootloader()"));
    EXPECT_TRUE(log.HasLine(2, S, "~COM_SynchroniseBootloader()"));
}

TEST_F(SerialProtocol, SynchronisationOutcomesOfBadAnswers) {
    struct Case {
        Bytes answer;
        int code;
        std::string line;
    };
    const Bytes good{0xFE, 0x01, 0x05, 0x07, 0xFF};
    Bytes six = good;
    six.push_back(0x00);
    const std::vector<Case> cases{
        {{}, -4, "~COM_SynchroniseBootloader() nothing received"},
        {{0xF0}, -7, "~COM_SynchroniseBootloader() wrong number of byte received (1)"},
        {six, -7, "~COM_SynchroniseBootloader() wrong number of byte received (6)"},
        {{0xFE, 0x01, 0x05, 0x07, 0xFE}, -8, "~COM_SynchroniseBootloader() data- or format-error"},
        {{0x00, 0x01, 0x05, 0x07, 0xFF}, -8, "~COM_SynchroniseBootloader() data- or format-error"},
        {Bytes(33, 0xFE), -5, "~COM_SynchroniseBootloader() to much bytes received (33)"},
    };
    Open();
    for (const Case& c : cases) {
        peer.AnswerSyncWith(c.answer);
        log.Clear();
        EXPECT_EQ(c.code, link.COM_SynchroniseBootloader()) << c.line;
        EXPECT_TRUE(log.HasLine(2, S, c.line)) << c.line;
        EXPECT_TRUE(link.IsOpen()) << "a failed attempt leaves the port open";
    }
    EXPECT_EQ(BootloaderInfo{}.deviceId, link.GetBootloaderInfo().deviceId);
    // The flood was purged: a silent device now reads as silence, not as the old bytes.
    peer.AnswerSyncWith({});
    EXPECT_EQ(-4, link.COM_SynchroniseBootloader());
}

TEST_F(SerialProtocol, SynchronisationWithoutAPortFails) {
    EXPECT_EQ(-1, link.COM_SynchroniseBootloader());
    EXPECT_TRUE(log.HasLine(2, S, "~COM_SynchroniseBootloader() no connection"));
}

TEST_F(SerialProtocol, ASilentDeviceIsGivenUpAfterFiftyMilliseconds) {
    VirtualClock clock;
    CCommunication_COM timed(log, clock);
    peer.AnswerSyncWith({});
    ASSERT_EQ(0, timed.COM_Open(pty.Path(), 115200, 0, 8, 0));
    EXPECT_EQ(-4, timed.COM_SynchroniseBootloader());
    ASSERT_EQ(1u, clock.Waits().size());
    EXPECT_TRUE(clock.Waits()[0].pump);
    EXPECT_EQ(50u, clock.Waits()[0].ms);
}

TEST_F(SerialProtocol, UpdateSendsEveryFrameByteForByte) {
    const std::string path = File({276, 1, 40, 0, 100});
    OpenAndSynchronise();
    EXPECT_EQ(0, link.COM_UpdateAVR(path, &progress));
    EXPECT_EQ(frames, peer.Frames());
    EXPECT_FALSE(link.GetBootloaderInfo().signatureError);
    EXPECT_FALSE(link.IsOpen()) << "the transfer closes the port at its end";
    ASSERT_GE(progress.calls.size(), 3u);
    EXPECT_EQ("range 0..100", progress.calls.front());
    EXPECT_EQ("pos 100", progress.calls.back());
    EXPECT_TRUE(log.HasLine(4, S, "COM_UpdateAVR(" + path + ")"));
    EXPECT_TRUE(log.HasLine(4, S, "COM_UpdateAVR() - send frame 4 (325, 0x0064)"));
    EXPECT_TRUE(log.HasLine(4, S, "~COM_UpdateAVR() - done"));
}

TEST_F(SerialProtocol, RejectedFramesGoAgainUpToThreeTimes) {
    const std::string path = File({10, 20});
    peer.ReplyToFrames({0x22, 0x22, 0x22, 0x11, 0x55, 0x11});
    OpenAndSynchronise();
    EXPECT_EQ(0, link.COM_UpdateAVR(path, nullptr));
    const std::vector<Bytes> expected{frames[0], frames[0], frames[0],
                                      frames[0], frames[1], frames[1]};
    EXPECT_EQ(expected, peer.Frames());
    EXPECT_EQ(3u, log.CountLines("COM_UpdateAVR() - CRC error"));
    EXPECT_TRUE(log.HasLine(4, S, "COM_UpdateAVR() - timeout (55)"));
}

TEST_F(SerialProtocol, TheFourthFailureInARowEndsTheUpdate) {
    const std::string path = File({10, 20});
    peer.ReplyToFrames({0x22, 0x22, 0x22, 0x22});
    OpenAndSynchronise();
    EXPECT_EQ(-10, link.COM_UpdateAVR(path, nullptr));
    EXPECT_EQ(4u, peer.Frames().size());
    EXPECT_TRUE(log.HasLine(4, S, "~COM_UpdateAVR() - too many errors"));
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(SerialProtocol, SilenceCountsAsAFailedAttempt) {
    // Virtual time: four waits of 2500 ms for replies that never come run at once.
    VirtualClock clock;
    CCommunication_COM timed(log, clock);
    const std::string path = File({10});
    peer.ReplyToFrames({std::nullopt, std::nullopt, std::nullopt, std::nullopt});
    ASSERT_EQ(0, timed.COM_Open(pty.Path(), 115200, 0, 8, 0));
    EXPECT_EQ(-10, timed.COM_UpdateAVR(path, nullptr));
    EXPECT_EQ(4u, log.CountLines("COM_UpdateAVR() - timeout (FF)"));
}

TEST_F(SerialProtocol, NotReadyStopsAtOnce) {
    const std::string path = File({10, 20, 30});
    peer.ReplyToFrames({0x11, 0xFE});
    OpenAndSynchronise();
    EXPECT_EQ(-99, link.COM_UpdateAVR(path, nullptr));
    EXPECT_EQ(2u, peer.Frames().size());
    EXPECT_TRUE(log.HasLine(4, S, "~COM_UpdateAVR() - bootloader not ready (recv. 0x55)"));
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(SerialProtocol, ASignatureErrorAcceptsTheFrameAndSetsTheFlag) {
    const std::string path = File({10, 20});
    peer.ReplyToFrames({0x33, 0x11});
    OpenAndSynchronise();
    EXPECT_EQ(0, link.COM_UpdateAVR(path, nullptr));
    EXPECT_EQ(frames, peer.Frames());
    EXPECT_TRUE(link.GetBootloaderInfo().signatureError);
}

TEST_F(SerialProtocol, UpdateWithoutAPortFailsAfterResettingTheProgress) {
    const std::string path = File({10});
    EXPECT_EQ(-1, link.COM_UpdateAVR(path, &progress));
    EXPECT_EQ(std::vector<std::string>({"range 0..100", "pos 0"}), progress.calls);
    EXPECT_TRUE(log.HasLine(2, S, "~COM_UpdateAVR() no connection"));
}

TEST_F(SerialProtocol, ThePulledCableEndsTheUpdateWithTheSystemError) {
    const std::string path = File({10, 20});
    OpenAndSynchronise();
    pty.Hangup();
    const int code = link.COM_UpdateAVR(path, nullptr);
    EXPECT_TRUE(code == -7 || code == -8) << code;
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(SerialProtocol, TheDeviceCommandGoesOutBeforeTheFirstSync) {
    const Bytes command{0xFD, 0x07, 0x07, 0xFE};
    Open();
    EXPECT_EQ(0, link.COM_SendBuffer(command));
    EXPECT_EQ(0, link.COM_SynchroniseBootloader());
    ASSERT_TRUE(peer.WaitForBytes(6));
    EXPECT_EQ(Bytes({0xFD, 0x07, 0x07, 0xFE, 0xF0, 0xF1}), peer.Received());
    EXPECT_TRUE(log.HasLine(4, S, "COM_SendBuffer()"));
    EXPECT_TRUE(log.HasLine(4, S, "~COM_SendBuffer()"));
}

TEST_F(SerialProtocol, SendBufferWithoutAPortFails) {
    EXPECT_EQ(-1, link.COM_SendBuffer(Bytes{0x01}));
    EXPECT_TRUE(log.HasLine(2, S, "~COM_SendBuffer() no connection"));
}

// --- port failures, injected into a real port ---

namespace {

// A real port whose n-th status query, read or write (from 1) fails with EIO.
class FaultyPort final : public SerialPort {
  public:
    struct Faults {
        int waiting = 0, read = 0, write = 0;
    };
    explicit FaultyPort(Faults faults) : faults_(faults), real_(SystemSerialPorts().makePort()) {}

    int Open(const std::string& name) override { return real_->Open(name); }
    int Purge() override { return real_->Purge(); }
    int Configure(const SerialLineSettings& s) override { return real_->Configure(s); }
    IoResult Waiting() override {
        return ++waitings_ == faults_.waiting ? IoResult{false, EIO, 0} : real_->Waiting();
    }
    IoResult Read(std::span<std::uint8_t> buffer) override {
        return ++reads_ == faults_.read ? IoResult{false, EIO, 0} : real_->Read(buffer);
    }
    IoResult Write(std::span<const std::uint8_t> bytes) override {
        return ++writes_ == faults_.write ? IoResult{false, EIO, 0} : real_->Write(bytes);
    }
    void Close() override { real_->Close(); }

  private:
    Faults faults_;
    int waitings_ = 0, reads_ = 0, writes_ = 0;
    std::unique_ptr<SerialPort> real_;
};

struct FaultCase {
    const char* name;
    FaultyPort::Faults faults;
    bool update;  // false: a synchronisation attempt
    int code;
    const char* line;
    bool staysOpen;
};

class SerialPortFaults : public ::testing::TestWithParam<FaultCase> {
  protected:
    RecordingLog log;
    TempDir dir;
    PtyPair pty;
    ScriptedPtyPeer peer{pty};
};

const std::string kEio = std::to_string(EIO);

}  // namespace

TEST_P(SerialPortFaults, EndWithTheirCodeAndLine) {
    const FaultCase& c = GetParam();
    SerialPortAccess access = SystemSerialPorts();
    access.makePort = [&] { return std::make_unique<FaultyPort>(c.faults); };
    CCommunication_COM link(log, DefaultClock(), access);
    ASSERT_EQ(0, link.COM_Open(pty.Path(), 115200, 0, 8, 0));
    int code = 0;
    if (c.update) {
        // The attempt before takes writes 1 and 2, status query 1 and read 1.
        ASSERT_EQ(0, link.COM_SynchroniseBootloader());
        code = link.COM_UpdateAVR(WriteUpdateFile(dir.Path().string(), {10, 20}), nullptr);
    } else {
        code = link.COM_SynchroniseBootloader();
    }
    EXPECT_EQ(c.code, code);
    std::string line = c.line;
    line.replace(line.find("%i"), 2, kEio);
    EXPECT_TRUE(log.HasLine(2, S, line)) << line;
    EXPECT_EQ(c.staysOpen, link.IsOpen());
}

INSTANTIATE_TEST_SUITE_P(
    Serial, SerialPortFaults,
    ::testing::Values(
        FaultCase{"SyncWrite",
                  {0, 0, 1},
                  false,
                  -2,
                  "~COM_SynchroniseBootloader() error %i in WriteFile()",
                  true},
        FaultCase{"SyncStatus",
                  {1, 0, 0},
                  false,
                  -3,
                  "~COM_SynchroniseBootloader() error %i in ClearCommError()",
                  true},
        FaultCase{"SyncRead",
                  {0, 1, 0},
                  false,
                  -6,
                  "~COM_SynchroniseBootloader() error %i in ReadFile()",
                  true},
        FaultCase{"SyncStart",
                  {0, 0, 2},
                  false,
                  -9,
                  "~COM_SynchroniseBootloader() error %i in WriteFile()",
                  true},
        FaultCase{
            "FrameWrite", {0, 0, 3}, true, -7, "~COM_UpdateAVR() error %i in WriteFile()", false},
        FaultCase{"ReplyStatus",
                  {3, 0, 0},
                  true,
                  -8,
                  "~COM_UpdateAVR() error %i in ClearCommError()",
                  false},
        FaultCase{
            "ReplyRead", {0, 2, 0}, true, -9, "~COM_UpdateAVR() error %i in ReadFile()", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SerialPortFault, AFailedWriteOfRawBytesGivesMinus2) {
    RecordingLog log;
    PtyPair pty;
    SerialPortAccess access = SystemSerialPorts();
    access.makePort = [] { return std::make_unique<FaultyPort>(FaultyPort::Faults{0, 0, 1}); };
    CCommunication_COM link(log, DefaultClock(), access);
    ASSERT_EQ(0, link.COM_Open(pty.Path(), 115200, 0, 8, 0));
    EXPECT_EQ(-2, link.COM_SendBuffer(Bytes{0xFD, 0x07, 0x07, 0xFE}));
    EXPECT_TRUE(log.HasLine(2, S, "~COM_SendBuffer() error " + kEio + " in WriteFile()"));
}
