// The simulated FTDI library against simulated devices on a bus folder: listing, the line,
// the Corvane application, unplugging.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "links/ftdi/ftdi_library.h"
#include "links/simbus/bus_folder.h"
#include "links/simbus/tty_line_speed.h"
#include "sim/ftdi_transport.h"
#include "sim/pty_pair.h"
#include "support/temp_dir.h"
#include "wait_until.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

const Bytes kSync{0xF0};
const Bytes kSyncAnswer{0xFE, 0x01, 0x05, 0x01, 0xFF};
const std::array<std::uint8_t, 4> kCode{0x12, 0x34, 0x56, 0x78};

class FtdiSimBus : public ::testing::Test {
  protected:
    FtdiSimServer& Plug(FtdiSimOptions options) {
        servers_.push_back(std::make_unique<FtdiSimServer>(bus_.Path().string(), options));
        std::string error;
        EXPECT_TRUE(servers_.back()->Start(error)) << error;
        return *servers_.back();
    }
    FtdiSimServer& PlugCorvane(CorvaneFault fault = CorvaneFault::kNone) {
        FtdiSimOptions options;
        options.startInApplication = true;
        options.application.code = kCode;
        options.application.hardware = "H1";
        options.application.software = "S1";
        options.application.fault = fault;
        return Plug(options);
    }

    // Opens the first device at `baud`, reads waiting up to readMs.
    FtdiHandle Open(std::uint32_t baud, std::uint32_t readMs = 1000) {
        FtdiHandle h = nullptr;
        EXPECT_EQ(library_->OpenByIndex(0, h), kFtdiOk);
        EXPECT_EQ(library_->SetBaudRate(h, baud), kFtdiOk);
        EXPECT_EQ(library_->SetTimeouts(h, readMs, 1000), kFtdiOk);
        return h;
    }
    void Send(FtdiHandle h, const Bytes& bytes) {
        std::uint32_t written = 0;
        ASSERT_EQ(library_->Write(h, bytes, written), kFtdiOk);
        ASSERT_EQ(written, bytes.size());
    }
    Bytes Receive(FtdiHandle h, std::size_t count) {
        Bytes bytes(count);
        std::uint32_t got = 0;
        EXPECT_EQ(library_->Read(h, bytes, got), kFtdiOk);
        bytes.resize(got);
        return bytes;
    }

    TempDir bus_;
    std::unique_ptr<FtdiLibrary> library_ = MakeSimulatedFtdiLibrary(bus_.Path().string());
    std::vector<std::unique_ptr<FtdiSimServer>> servers_;
};

TEST_F(FtdiSimBus, ListsWellFormedDevicesInNameOrder) {
    for (const auto& [description, serial] : {std::pair{"Second", "B2"}, {"First", "A1"}}) {
        FtdiSimOptions options;
        options.description = description;
        options.serial = serial;
        Plug(options);
    }
    bus_.Write("notes.txt", "First\nA0\n/dev/null\n");
    bus_.Write("A0.dev", "two\nlines\n");
    bus_.Write("A9.dev", "serial not the name\nZZ\n/dev/null\n");

    std::uint32_t count = 0;
    ASSERT_EQ(library_->CountDevices(count), kFtdiOk);
    EXPECT_EQ(count, 2u);
    std::vector<std::string> descriptions;
    ASSERT_EQ(library_->AllDescriptions(descriptions), kFtdiOk);
    EXPECT_EQ(descriptions, (std::vector<std::string>{"First", "Second"}));
    std::array<char, 16> serial{};
    ASSERT_EQ(library_->SerialNumberByIndex(1, serial), kFtdiOk);
    EXPECT_STREQ(serial.data(), "B2");
    EXPECT_EQ(library_->SerialNumberByIndex(2, serial), kFtdiDeviceNotFound);
}

// Bus files are input like any other: a hostile one is skipped at once with its reason, or,
// when it names no usable terminal, listed but refused when opened.
TEST_F(FtdiSimBus, HostileBusFilesAreRefusedInBoundedTime) {
    ASSERT_EQ(::mkfifo((bus_.Path() / "F1.dev").c_str(), 0600), 0);
    const std::string huge = bus_.Write("H1.dev", "Huge\nH1\n/dev/null\n");
    std::filesystem::resize_file(huge, std::uintmax_t{1} << 30);  // sparse: costs no disk
    bus_.Write("M1.dev", "Missing port\nM1\n");
    bus_.Write("N1.dev", "Not a terminal\nN1\n/dev/null\n");
    ASSERT_EQ(::mkfifo((bus_.Path() / "pipe").c_str(), 0600), 0);
    bus_.Write("P1.dev", "A pipe\nP1\n" + (bus_.Path() / "pipe").string() + "\n");
    bus_.Write("R1.dev", "A file\nR1\n" + bus_.Write("plain", "") + "\n");
    bus_.Write("T1.dev", "Own terminal\nT1\n/dev/tty\n");
    std::vector<std::string> skipped;
    EXPECT_EQ(ListBus(bus_.Path().string(), &skipped).size(), 4u);
    EXPECT_EQ(skipped, (std::vector<std::string>{
                           "F1.dev is not a regular file", "H1.dev is larger than 4096 bytes",
                           "M1.dev does not hold three lines: description, serial number, port"}));
    // No terminal at all is said so; a terminal that is not the device's is refused as busy.
    const std::vector<FtdiStatus> expected{kFtdiPortNotATerminal, kFtdiPortNotATerminal,
                                           kFtdiPortNotATerminal, kFtdiDeviceNotOpened};
    for (std::size_t index = 0; index < expected.size(); ++index) {
        FtdiHandle h = nullptr;
        EXPECT_EQ(library_->OpenByIndex(static_cast<int>(index), h), expected[index]) << index;
    }
}

// A bus file naming the user's own terminal, as /dev/tty or by its path, is refused before
// the terminal's settings are touched. A child gets a controlling terminal for the check.
TEST_F(FtdiSimBus, TheControllingTerminalIsNeverOpened) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");  // a fresh process, without the threads
    EXPECT_EXIT(
        {
            PtyPair terminal;
            std::string error;
            ::setsid();
            // Opened without O_NOCTTY by a session leader, it becomes its controlling terminal.
            const UniqueFd own(terminal.Open(error) ? ::open(terminal.Path().c_str(), O_RDWR) : -1);
            termios cooked{};
            ::tcgetattr(own.Get(), &cooked);
            cooked.c_lflag |= ECHO | ICANON;
            ::tcsetattr(own.Get(), TCSANOW, &cooked);
            bus_.Write("A1.dev", "Own\nA1\n/dev/tty\n");
            bus_.Write("B1.dev", "Own\nB1\n" + terminal.Path() + "\n");
            FtdiHandle h = nullptr;
            const bool refused = ::tcgetsid(own.Get()) == ::getsid(0) &&
                                 library_->OpenByIndex(0, h) != kFtdiOk &&
                                 library_->OpenByIndex(1, h) != kFtdiOk;
            termios after{};
            ::tcgetattr(own.Get(), &after);
            ::_exit(refused && after.c_lflag == cooked.c_lflag ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FtdiSimBus, BootloaderAnswersSynchronisationAt115200) {
    FtdiSimServer& device = Plug({});
    const FtdiHandle h = Open(115200);
    // The open device is this program's alone: another opener (another program) is refused.
    FtdiHandle second = nullptr;
    EXPECT_EQ(MakeSimulatedFtdiLibrary(bus_.Path().string())->OpenByIndex(0, second),
              kFtdiDeviceNotOpened);
    Send(h, kSync);
    EXPECT_EQ(Receive(h, kSyncAnswer.size()), kSyncAnswer);
    EXPECT_EQ(device.GarbledBytes(), 0u);
    EXPECT_EQ(library_->Purge(h, kFtdiPurgeRx | kFtdiPurgeTx), kFtdiOk);
    EXPECT_EQ(library_->Close(h), kFtdiOk);
    EXPECT_EQ(library_->Close(h), kFtdiInvalidHandle);
}

TEST_F(FtdiSimBus, ReadEndsAfterItsTimeOutWithWhatCame) {
    Plug({});
    const FtdiHandle h = Open(115200, 50);
    EXPECT_TRUE(Receive(h, 4).empty());
    Send(h, kSync);
    EXPECT_EQ(Receive(h, 10), kSyncAnswer);
}

TEST_F(FtdiSimBus, LineSpeedIsSetExactly) {
    PtyPair pty;
    std::string error;
    ASSERT_TRUE(pty.Open(error)) << error;
    for (const std::uint32_t baud : {115200u, 1000000u, 14400u, 250000u}) {
        ASSERT_TRUE(SetTtyLineSpeed(pty.Slave(), baud));
        EXPECT_EQ(TtyLineSpeed(pty.Slave()), baud);
    }
}

// Bytes sent at another speed than the device's mode uses reach it garbled.
TEST_F(FtdiSimBus, WrongSpeedGarblesWhatTheHostSends) {
    struct Case {
        bool corvane;
        std::uint32_t hostBaud;
        Bytes sent;
    };
    for (const Case& c : {Case{false, 1000000, kSync}, Case{false, 14400, kSync},
                          Case{true, 115200, {0xBF, 0x00, 0x04, 0xFF}}}) {
        SCOPED_TRACE(c.hostBaud);
        FtdiSimOptions options;
        options.startInApplication = c.corvane;
        FtdiSimServer& device = Plug(options);
        const FtdiHandle h = Open(c.hostBaud, 100);
        Send(h, c.sent);
        EXPECT_TRUE(WaitUntil([&] { return device.GarbledBytes() == c.sent.size(); }));
        EXPECT_TRUE(Receive(h, 1).empty()) << "a garbled request gets no answer";
        EXPECT_EQ(device.Inspect([](const BootloaderSim& s) { return s.SyncRequests(); }), 0u);
        library_->Close(h);
        device.Stop();
    }
}

TEST_F(FtdiSimBus, CorvaneInformationIsEscaped) {
    FtdiSimServer& device = PlugCorvane();
    const FtdiHandle h = Open(1000000);
    Send(h, {0xBF, 0x00, 0x04, 0xFF});
    const Bytes expected{0xBF, 0x00, 0x05, 0x00, 0x3F, 0x00, 0x3F, 0x01, 0x3F, 0x02,
                         0x3F, 0x03, 0x00, 0x00, 'C',  'o',  'r',  'v',  'a',  'n',
                         'e',  0x0D, 'H',  '1',  0x0D, 'S',  '1',  0xFF};
    EXPECT_EQ(Receive(h, expected.size()), expected);
    EXPECT_EQ(device.CorvaneCommands(), (std::vector<CorvaneCommand>{{0x04, {}}}));
}

TEST_F(FtdiSimBus, CorvaneRestartCommand) {
    struct Case {
        const char* name;
        CorvaneFault fault;
        Bytes code;
        Bytes answer;  // empty: none
        bool inBootloader;
    };
    const Bytes right(kCode.begin(), kCode.end());
    for (const Case& c : {
             Case{"right code", CorvaneFault::kNone, right, {0xBF, 0, 0x01, 0, 0xFF}, true},
             Case{"wrong code", CorvaneFault::kNone, {1, 2, 3, 4}, {0xBF, 0, 0, 0, 0xFF}, false},
             Case{"short code", CorvaneFault::kNone, {0x12, 0x34}, {0xBF, 0, 0, 0, 0xFF}, false},
             Case{"refusing", CorvaneFault::kRefuse, right, {0xBF, 0, 0, 0, 0xFF}, false},
             Case{"wrong answer", CorvaneFault::kWrong, right, {0xBF, 0, 0x02, 0, 0xFF}, false},
             Case{"silent", CorvaneFault::kSilent, right, {}, false},
         }) {
        SCOPED_TRACE(c.name);
        FtdiSimServer& device = PlugCorvane(c.fault);
        const FtdiHandle h = Open(1000000, 200);
        Bytes command{0xBF, 0x00, 0xAA};
        command.insert(command.end(), c.code.begin(), c.code.end());
        command.push_back(0xFF);
        Send(h, command);
        EXPECT_EQ(Receive(h, 16), c.answer);
        EXPECT_EQ(device.InBootloader(), c.inBootloader);
        EXPECT_EQ(device.CorvaneCommands(), (std::vector<CorvaneCommand>{{0xAA, c.code}}));
        if (c.inBootloader) {
            ASSERT_EQ(library_->SetBaudRate(h, 115200), kFtdiOk);
            Send(h, kSync);
            EXPECT_EQ(Receive(h, kSyncAnswer.size()), kSyncAnswer);
        }
        library_->Close(h);
        device.Stop();
    }
}

TEST_F(FtdiSimBus, UnpluggedDeviceFailsAndComesBackInItsBootloader) {
    FtdiSimServer& device = PlugCorvane();
    const FtdiHandle h = Open(1000000, 3000);
    // A read waiting when the device goes ends with an error, not with its time-out.
    FtdiStatus waiting = kFtdiOk;
    std::thread reader([&] {
        Bytes buffer(1);
        std::uint32_t got = 0;
        waiting = library_->Read(h, buffer, got);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    device.Unplug();
    reader.join();
    EXPECT_EQ(waiting, kFtdiIoError);

    Bytes buffer(1);
    std::uint32_t n = 0;
    EXPECT_EQ(library_->Read(h, buffer, n), kFtdiIoError);
    EXPECT_EQ(library_->Write(h, kSync, n), kFtdiIoError);
    std::uint32_t count = 1;
    library_->CountDevices(count);
    EXPECT_EQ(count, 0u);
    library_->Close(h);

    ASSERT_TRUE(device.Replug());
    library_->CountDevices(count);
    EXPECT_EQ(count, 1u);
    const FtdiHandle again = Open(115200);
    Send(again, kSync);
    EXPECT_EQ(Receive(again, kSyncAnswer.size()), kSyncAnswer);
}

TEST_F(FtdiSimBus, ScriptedUnplugAndReplug) {
    FtdiSimOptions options;
    options.unplugAfterMs = 50;
    options.replugAfterMs = 150;
    Plug(options);
    std::uint32_t count = 0;
    const auto devices = [&] {
        library_->CountDevices(count);
        return count;
    };
    EXPECT_TRUE(WaitUntil([&] { return devices() == 0; }));
    EXPECT_TRUE(WaitUntil([&] { return devices() == 1; }));
}

}  // namespace
