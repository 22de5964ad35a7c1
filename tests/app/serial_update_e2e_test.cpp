// The real flashwright program updating the simulated device on a pseudo-terminal.

#include <gtest/gtest.h>

#include <QSerialPort>

#include <fstream>
#include <sstream>

#include "e2e_fixture.h"
#include "engine/update_file.h"
#include "links/serial_sim_pty.h"
#include "sim/enc_maker.h"
#include "update/exit_codes.h"

namespace {

class SerialUpdateTest : public ::testing::Test {
  protected:
    void StartDevice(SimOptions options = {}) { device_.emplace(std::move(options)); }
    std::string MakeUpdateFile(std::size_t payloadBytes) {
        return WriteUpdate(dir_.Path().string(), PseudoRandomBytes(payloadBytes, 11));
    }
    ChildResult Flashwright(std::vector<std::string> args, const ChildOptions& options = {}) {
        return RunChild(FlashwrightProgram(), args, options);
    }
    std::vector<Bytes> DeviceFrames() const {
        return device_ ? device_->Frames() : std::vector<Bytes>{};
    }

    TempDir dir_;
    std::optional<SimOnPty> device_;
};

}  // namespace

TEST_F(SerialUpdateTest, SuccessDeliversEveryFrameByteForByteAndPrintsNothingToAScript) {
    StartDevice();
    const std::string file = MakeUpdateFile(3000);
    const ChildResult r = Flashwright({"COM", device_->Path(), file});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(DeviceFrames(), SplitFrames(ReadUpdateFile(file).image.bytes));
}

TEST_F(SerialUpdateTest, KeywordInAnyCaseWithAGivenRateAndTheDeviceCommand) {
    StartDevice();
    const std::string file = MakeUpdateFile(600);
    EXPECT_EQ(Flashwright({"com", device_->Path(), file, "57600"}).status, 0);
    EXPECT_EQ(device_->Server().DeviceCommands(), 0u);
    EXPECT_EQ(Flashwright({"Com", device_->Path(), file, "--device-type", "mirabel"}).status, 0);
    EXPECT_EQ(device_->Server().DeviceCommands(), 1u);
    EXPECT_EQ(DeviceFrames().size(), 2 * SplitFrames(ReadUpdateFile(file).image.bytes).size());
}

TEST_F(SerialUpdateTest, DeviceVerdictsGiveTheirExitCodes) {
    struct Case {
        SimFault fault;
        int exitCode;
    };
    const std::string file = MakeUpdateFile(1500);
    for (const Case& c : {Case{{1, 0x22, 4}, kExitTooManyErrors}, Case{{2, 0xFE, 1}, kExitNotReady},
                          Case{{0, 0x33, 1}, kExitSignatureError}, Case{{1, 0x22, 3}, 0}}) {
        SimOptions options;
        options.faults = {c.fault};
        StartDevice(options);
        EXPECT_EQ(Flashwright({"COM", device_->Path(), file}).status, ExitStatus(c.exitCode))
            << int(*c.fault.reply) << " x" << c.fault.count;
    }
}

TEST_F(SerialUpdateTest, BytesThatAnswerNoFrameAreDropped) {
    const std::string file = MakeUpdateFile(1500);
    const std::vector<Bytes> frames = SplitFrames(ReadUpdateFile(file).image.bytes);
    // A doubled acknowledgement of frame 0 followed by a CRC error for frame 1 sends frame 1
    // again; an acknowledgement out of nowhere after frame 2 is not taken for frame 3's reply.
    SimOptions doubled;
    doubled.extraBytes = {{0, std::nullopt}};
    doubled.faults = {{1, 0x22, 1}};
    SimOptions stray;
    stray.extraBytes = {{2, 0x11}};
    stray.faults = {{3, 0x22, 1}};
    for (const SimOptions& options : {doubled, stray}) {
        StartDevice(options);
        EXPECT_EQ(Flashwright({"COM", device_->Path(), file}).status, 0);
        EXPECT_EQ(
            device_->Server().Inspect([](const BootloaderSim& s) { return s.AcceptedImage(); }),
            ReadUpdateFile(file).image.bytes);
    }
    // The last device served: every frame once, frame 3 twice.
    EXPECT_EQ(DeviceFrames().size(), frames.size() + 1);
}

TEST_F(SerialUpdateTest, FileChecksComeAfterTheSynchronisationAndSendNothing) {
    StartDevice();
    const std::string oneByte = (dir_.Path() / "one.enc").string();
    std::ofstream(oneByte) << "A";
    EXPECT_EQ(Flashwright({"COM", device_->Path(), oneByte}).status, ExitStatus(kExitFileTooShort));
    EXPECT_EQ(Flashwright({"COM", device_->Path(), (dir_.Path() / "none.enc").string()}).status,
              ExitStatus(kExitFileUnreadable));
    EXPECT_TRUE(DeviceFrames().empty());
    EXPECT_EQ(device_->Server().Inspect([](const BootloaderSim& s) { return s.SyncAnswers(); }),
              2u);
}

TEST_F(SerialUpdateTest, APortHeldByAnotherProgramCannotBeOpened) {
    StartDevice();
    QSerialPort holder(QString::fromStdString(device_->Path()));
    ASSERT_TRUE(holder.open(QIODevice::ReadWrite));
    EXPECT_EQ(Flashwright({"COM", device_->Path(), MakeUpdateFile(600)}).status,
              ExitStatus(kExitOpenFailed));
}

TEST_F(SerialUpdateTest, OnATerminalTheProgressAndVerdictAreShown) {
    StartDevice();
    ChildOptions terminal;
    terminal.stderrOnTerminal = true;
    const ChildResult r = Flashwright({"COM", device_->Path(), MakeUpdateFile(3072)}, terminal);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("Bootloader version 1.05"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("100%"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Programming successful"), std::string::npos) << r.err;
}

TEST(SerialCommandLine, HelpDocumentsItAndPortsAreListed) {
    const ChildResult help = RunChild(FlashwrightProgram(), {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("flashwright COM <port> <file> [<baud>]"), std::string::npos);
    EXPECT_NE(help.out.find("--device-type mirabel"), std::string::npos);
    const ChildResult list = RunChild(FlashwrightProgram(), {"--list-ports"});
    EXPECT_EQ(list.status, 0);
    std::istringstream lines(list.out);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_EQ(line.rfind("/dev/", 0), 0u) << line;
    }
}
