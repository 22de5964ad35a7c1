// The serial command line in-process: exit codes, texts, operands, the synchronisation window
// in virtual time and the device command, against the simulated device on a pseudo-terminal.

#include <gtest/gtest.h>

#include "cli/serial_command_line.h"
#include "links/serial_sim_pty.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"
#include "support/virtual_clock.h"
#include "update/exit_codes.h"

namespace {

// Records what the update told its front end.
class RecordingObserver final : public UpdateObserver {
  public:
    void WaitingForBootloader(std::uint64_t elapsedMs) override { lastWaitMs = elapsedMs; }
    void Synchronised(const BootloaderInfo&) override { synchronised = true; }
    ProgressSink* TransferStarting(std::size_t) override { return nullptr; }
    void Finished(std::string_view text, int code) override {
        verdict = text;
        exitCode = code;
    }
    std::uint64_t lastWaitMs = 0;
    bool synchronised = false;
    std::string verdict;
    int exitCode = 1;
};

}  // namespace

TEST(SerialCommand, RefusedRatesFailToOpen) {
    RecordingLog log;
    SimOnPty sim;
    const std::vector<std::string> fast{sim.Path(), "u.enc", "230400"};
    EXPECT_EQ(RunComCommand(fast, log), kExitOpenFailed);
    EXPECT_TRUE(log.HasLine(2, 30, "~COM_Open() parameter error"));
}

TEST(SerialCommand, NoBootloaderWithinTenSecondsGivesMinus11) {
    SimOptions silent;
    silent.syncAnswer = std::vector<std::uint8_t>{};
    SimOnPty sim(silent);
    RecordingLog log;
    VirtualClock clock;
    RecordingObserver observer;
    EXPECT_EQ(RunSerialUpdate({sim.Path(), "u.enc"}, log, clock, observer), kExitNoBootloader);
    EXPECT_EQ(observer.exitCode, kExitNoBootloader);
    EXPECT_FALSE(observer.synchronised);
    EXPECT_GE(observer.lastWaitMs + 100, 10000u);
    // Attempts are 10 ms plain sleeps apart.
    std::size_t sleeps = 0;
    for (const auto& wait : clock.Waits()) {
        if (!wait.pump) {
            EXPECT_EQ(wait.ms, 10u);
            ++sleeps;
        }
    }
    EXPECT_GT(sleeps, 100u);
}

TEST(SerialCommand, TheDeviceCommandGoesOutOnlyForMirabel) {
    TempDir dir;
    const std::string file = WriteUpdate(dir.Path().string(), std::vector<std::uint8_t>(600, 1));
    for (const bool mirabel : {false, true}) {
        SimOnPty sim;
        RecordingLog log;
        RecordingObserver observer;
        EXPECT_EQ(
            RunSerialUpdate({sim.Path(), file, 115200, mirabel}, log, DefaultClock(), observer), 0);
        EXPECT_EQ(observer.verdict, "Programming successful");
        EXPECT_EQ(sim.Server().DeviceCommands(), mirabel ? 1u : 0u);
        EXPECT_EQ(log.HasLine(4, 30, "COM_SendBuffer()"), mirabel);
    }
}
