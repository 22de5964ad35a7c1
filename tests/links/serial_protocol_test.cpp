// The bootloader dialogue over a pseudo-terminal with the simulated device on the far side,
// and the port failures the link must turn into its codes.

#include <gtest/gtest.h>

#include <cerrno>
#include <optional>

#include "engine/link_profiles.h"
#include "links/serial/communication_com.h"
#include "links/serial_sim_pty.h"
#include "sim/enc_maker.h"
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

SimOptions Faults(std::vector<SimFault> faults) {
    SimOptions o;
    o.faults = std::move(faults);
    return o;
}

SimOptions AnswersSyncWith(Bytes answer) {
    SimOptions o;
    o.syncAnswer = std::move(answer);
    return o;
}

// The link against a simulated device with the given behaviour.
class SerialProtocol : public ::testing::Test {
  protected:
    void Start(SimOptions options = {}) { sim.emplace(std::move(options)); }
    void Open() { ASSERT_EQ(0, link.COM_Open(sim->Path(), 115200, 0, 8, 0)); }
    void OpenAndSynchronise() {
        Open();
        ASSERT_EQ(0, link.COM_SynchroniseBootloader());
    }
    // A file of `frames` frames of 10 bytes each.
    std::string File(unsigned frames) {
        return WriteUpdate(dir.Path().string(), PseudoRandomBytes(frames * 10, 7), 10);
    }

    RecordingLog log;
    TempDir dir;
    std::optional<SimOnPty> sim;
    CCommunication_COM link{log};
    RecordingProgress progress;
};

}  // namespace

TEST_F(SerialProtocol, SynchronisationStoresTheAnswerAndStartsTheDevice) {
    SimOptions o;
    o.versionHigh = 0x02;
    o.versionLow = 0x0A;
    o.deviceId = 0x21;
    Start(o);
    Open();
    EXPECT_EQ(0, link.COM_SynchroniseBootloader());
    EXPECT_EQ("Bootloader version 2.0A", BootloaderVersionText(link.GetBootloaderInfo()));
    EXPECT_EQ(0x21, link.GetBootloaderInfo().deviceId);
    EXPECT_EQ(BootloaderSim::State::ReceivingFrames,
              sim->Server().Inspect([](const BootloaderSim& s) { return s.CurrentState(); }));
    EXPECT_TRUE(log.HasLine(4, S, "COM_SynchroniseBootloader()"));
    EXPECT_TRUE(log.HasLine(2, S, "~COM_SynchroniseBootloader()"));
}

TEST_F(SerialProtocol, SynchronisationOutcomesOfBadAnswers) {
    struct Case {
        Bytes answer;
        int code;
        std::string line;
    };
    const std::vector<Case> cases{
        {{}, -4, "~COM_SynchroniseBootloader() nothing received"},
        {{0xF0}, -7, "~COM_SynchroniseBootloader() wrong number of byte received (1)"},
        {{0xFE, 0x01, 0x05, 0x07, 0xFF, 0x00},
         -7,
         "~COM_SynchroniseBootloader() wrong number of byte received (6)"},
        {{0xFE, 0x01, 0x05, 0x07, 0xFE}, -8, "~COM_SynchroniseBootloader() data- or format-error"},
        {{0x00, 0x01, 0x05, 0x07, 0xFF}, -8, "~COM_SynchroniseBootloader() data- or format-error"},
    };
    for (const Case& c : cases) {
        Start(AnswersSyncWith(c.answer));
        Open();
        log.Clear();
        EXPECT_EQ(c.code, link.COM_SynchroniseBootloader()) << c.line;
        EXPECT_TRUE(log.HasLine(2, S, c.line)) << c.line;
        EXPECT_TRUE(link.IsOpen()) << "a failed attempt leaves the port open";
    }
    EXPECT_EQ(BootloaderInfo{}.deviceId, link.GetBootloaderInfo().deviceId);
}

TEST_F(SerialProtocol, SynchronisationWithoutAPortFails) {
    EXPECT_EQ(-1, link.COM_SynchroniseBootloader());
    EXPECT_TRUE(log.HasLine(2, S, "~COM_SynchroniseBootloader() no connection"));
}

TEST_F(SerialProtocol, ASilentDeviceIsGivenUpAfterFiftyMilliseconds) {
    VirtualClock clock;
    CCommunication_COM timed(log, clock);
    Start(AnswersSyncWith({}));
    ASSERT_EQ(0, timed.COM_Open(sim->Path(), 115200, 0, 8, 0));
    EXPECT_EQ(-4, timed.COM_SynchroniseBootloader());
    ASSERT_EQ(1u, clock.Waits().size());
    EXPECT_TRUE(clock.Waits()[0].pump);
    EXPECT_EQ(50u, clock.Waits()[0].ms);
}

TEST_F(SerialProtocol, UpdateSendsEveryFrameByteForByte) {
    const Bytes payload = PseudoRandomBytes(5 * 276 + 1, 3);
    const std::string path = WriteUpdate(dir.Path().string(), payload);
    Start();
    OpenAndSynchronise();
    EXPECT_EQ(0, link.COM_UpdateAVR(path, &progress));
    EXPECT_EQ(CutIntoFrames(payload, 276), [&] {
        Bytes wire;
        for (const Bytes& f : sim->Frames()) {
            wire.insert(wire.end(), f.begin(), f.end());
        }
        return wire;
    }());
    EXPECT_EQ(6u, sim->Frames().size());
    EXPECT_FALSE(link.GetBootloaderInfo().signatureError);
    EXPECT_FALSE(link.IsOpen()) << "the transfer closes the port at its end";
    ASSERT_GE(progress.calls.size(), 3u);
    EXPECT_EQ("range 0..100", progress.calls.front());
    EXPECT_EQ("pos 100", progress.calls.back());
    EXPECT_TRUE(log.HasLine(4, S, "COM_UpdateAVR(" + path + ")"));
    EXPECT_TRUE(log.HasLine(4, S, "COM_UpdateAVR() - send frame 5 (1390, 0x0001)"));
    EXPECT_TRUE(log.HasLine(4, S, "~COM_UpdateAVR() - done"));
}

TEST_F(SerialProtocol, RejectedFramesGoAgainUpToThreeTimes) {
    const std::string path = File(2);
    Start(Faults({{0, 0x22, 3}, {1, 0x55, 1}}));
    OpenAndSynchronise();
    EXPECT_EQ(0, link.COM_UpdateAVR(path, nullptr));
    const auto frames = sim->Frames();
    ASSERT_EQ(6u, frames.size());
    EXPECT_EQ(frames[0], frames[3]);
    EXPECT_EQ(frames[4], frames[5]);
    EXPECT_EQ(3u, log.CountLines("COM_UpdateAVR() - CRC error"));
    EXPECT_TRUE(log.HasLine(4, S, "COM_UpdateAVR() - timeout (55)"));
}

TEST_F(SerialProtocol, TheFourthFailureInARowEndsTheUpdate) {
    const std::string path = File(2);
    Start(Faults({{0, 0x22, 4}}));
    OpenAndSynchronise();
    EXPECT_EQ(-10, link.COM_UpdateAVR(path, nullptr));
    EXPECT_EQ(4u, sim->Frames().size());
    EXPECT_TRUE(log.HasLine(4, S, "~COM_UpdateAVR() - too many errors"));
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(SerialProtocol, SilenceCountsAsAFailedAttempt) {
    // Virtual time: four waits of 2500 ms for replies that never come run at once.
    VirtualClock clock;
    CCommunication_COM timed(log, clock);
    SimOptions silent;
    silent.defaultReply = std::nullopt;
    Start(silent);
    ASSERT_EQ(0, timed.COM_Open(sim->Path(), 115200, 0, 8, 0));
    EXPECT_EQ(-10, timed.COM_UpdateAVR(File(1), nullptr));
    EXPECT_EQ(4u, log.CountLines("COM_UpdateAVR() - timeout (FF)"));
}

TEST_F(SerialProtocol, NotReadyStopsAtOnce) {
    const std::string path = File(3);
    Start(Faults({{1, 0xFE, 1}}));
    OpenAndSynchronise();
    EXPECT_EQ(-99, link.COM_UpdateAVR(path, nullptr));
    EXPECT_EQ(2u, sim->Frames().size());
    EXPECT_TRUE(log.HasLine(4, S, "~COM_UpdateAVR() - bootloader not ready (recv. 0x55)"));
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(SerialProtocol, ASignatureErrorAcceptsTheFrameAndSetsTheFlag) {
    const std::string path = File(2);
    Start(Faults({{0, 0x33, 1}}));
    OpenAndSynchronise();
    EXPECT_EQ(0, link.COM_UpdateAVR(path, nullptr));
    EXPECT_EQ(2u, sim->Frames().size());
    EXPECT_TRUE(link.GetBootloaderInfo().signatureError);
}

TEST_F(SerialProtocol, UpdateWithoutAPortFailsAfterResettingTheProgress) {
    EXPECT_EQ(-1, link.COM_UpdateAVR(File(1), &progress));
    EXPECT_EQ(std::vector<std::string>({"range 0..100", "pos 0"}), progress.calls);
    EXPECT_TRUE(log.HasLine(2, S, "~COM_UpdateAVR() no connection"));
}

TEST_F(SerialProtocol, ADeviceThatDisappearsEndsTheUpdateAndClosesThePort) {
    const std::string path = File(2);
    Start();
    OpenAndSynchronise();
    sim->Unplug();
    const int code = link.COM_UpdateAVR(path, nullptr);
    EXPECT_TRUE(code == -7 || code == -8) << code;
    EXPECT_FALSE(link.IsOpen());
}

TEST_F(SerialProtocol, TheDeviceCommandRestartsTheDeviceBeforeTheFirstSync) {
    const Bytes command{0xFD, 0x07, 0x07, 0xFE};
    Start();
    OpenAndSynchronise();
    ASSERT_EQ(0, link.COM_Open(sim->Path(), 115200, 0, 8, 0));
    EXPECT_EQ(0, link.COM_SendBuffer(command));
    EXPECT_EQ(0, link.COM_SynchroniseBootloader());
    EXPECT_EQ(0, link.COM_UpdateAVR(File(2), nullptr));
    EXPECT_EQ(1u, sim->Server().DeviceCommands());
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

// A link whose ports are FaultyPorts; the last one made stays reachable.
struct FaultyLink {
    explicit FaultyLink(LogSink& log, FaultyPort::Faults faults = {})
        : link(log, DefaultClock(), Access(faults)) {}

    SerialPortAccess Access(FaultyPort::Faults faults) {
        SerialPortAccess access = SystemSerialPorts();
        access.makePort = [this, faults] {
            auto port = std::make_unique<FaultyPort>(faults);
            last = port.get();
            return port;
        };
        return access;
    }

    FaultyPort* last = nullptr;
    CCommunication_COM link;
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
    SimOnPty sim;
};

const std::string kEio = std::to_string(EIO);

}  // namespace

TEST_P(SerialPortFaults, EndWithTheirCodeAndLine) {
    const FaultCase& c = GetParam();
    FaultyLink faulty(log, c.faults);
    CCommunication_COM& link = faulty.link;
    ASSERT_EQ(0, link.COM_Open(sim.Path(), 115200, 0, 8, 0));
    int code = 0;
    if (c.update) {
        // The attempt before takes writes 1 and 2, status query 1 and read 1.
        ASSERT_EQ(0, link.COM_SynchroniseBootloader());
        code = link.COM_UpdateAVR(WriteUpdate(dir.Path().string(), Bytes(20, 0x5A), 10), nullptr);
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
    SimOnPty sim;
    FaultyLink faulty(log, {0, 0, 1});
    ASSERT_EQ(0, faulty.link.COM_Open(sim.Path(), 115200, 0, 8, 0));
    EXPECT_EQ(-2, faulty.link.COM_SendBuffer(Bytes{0xFD, 0x07, 0x07, 0xFE}));
    EXPECT_TRUE(log.HasLine(2, S, "~COM_SendBuffer() error " + kEio + " in WriteFile()"));
}

TEST(SerialFlood, MoreThan32WaitingBytesArePurged) {
    RecordingLog log;
    SimOnPty sim(AnswersSyncWith(Bytes(33, 0xFE)));
    FaultyLink faulty(log);
    ASSERT_EQ(0, faulty.link.COM_Open(sim.Path(), 115200, 0, 8, 0));
    EXPECT_EQ(-5, faulty.link.COM_SynchroniseBootloader());
    EXPECT_TRUE(log.HasLine(2, S, "~COM_SynchroniseBootloader() to much bytes received (33)"));
    EXPECT_EQ(0u, faulty.last->Waiting().count) << "the flood was not purged";
}
