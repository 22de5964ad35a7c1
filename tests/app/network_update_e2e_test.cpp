// The real flashwright program updating the simulated device over loopback.

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <future>

#include "e2e_fixture.h"
#include "update/exit_codes.h"

namespace {

std::vector<Bytes> BytesOf(const std::vector<SimFrame>& frames) {
    std::vector<Bytes> bytes;
    for (const SimFrame& f : frames) {
        bytes.push_back(f.bytes);
    }
    return bytes;
}

std::vector<unsigned> NumbersOf(const std::vector<SimFrame>& frames) {
    std::vector<unsigned> numbers;
    for (const SimFrame& f : frames) {
        numbers.push_back(f.frameNumber);
    }
    return numbers;
}

void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace

TEST_F(NetworkUpdateTest, SuccessDeliversEveryFrameByteForByteAndPrintsNothingToAScript) {
    StartDevice("127.0.3.1");
    const std::string file = MakeUpdateFile("app.enc", 5000);

    const ChildResult r = Flashwright({"UDP", "127.0.3.1", file});

    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    const Bytes image = ImageOf(file);
    EXPECT_EQ(BytesOf(DeviceFrames()), SplitFrames(image));
    EXPECT_EQ(device_->Inspect([](const BootloaderSim& s) { return s.AcceptedImage(); }), image);
}

TEST_F(NetworkUpdateTest, KeywordMatchesInAnyCase) {
    StartDevice("127.0.3.2");
    const std::string file = MakeUpdateFile("app.enc", 600);

    EXPECT_EQ(Flashwright({"udp", "127.0.3.2", file}).status, 0);
    EXPECT_EQ(Flashwright({"uDp", "127.0.3.2", file}).status, 0);
    EXPECT_EQ(DeviceFrames().size(), 2 * SplitFrames(ImageOf(file)).size());
}

TEST_F(NetworkUpdateTest, QuotedPathWithABlankIsOneOperand) {
    StartDevice("127.0.3.3");
    std::filesystem::create_directory(dir_.Path() / "my updates");
    const std::string file = MakeUpdateFile("my updates/new firmware.enc", 1000);

    EXPECT_EQ(Flashwright({"UDP", "127.0.3.3", file}).status, 0);
    EXPECT_EQ(BytesOf(DeviceFrames()), SplitFrames(ImageOf(file)));
}

TEST_F(NetworkUpdateTest, PathSplitByTheShellNamesAMissingFileAndSendsNothing) {
    StartDevice("127.0.3.4");
    MakeUpdateFile("new firmware.enc", 1000);
    const std::string firstPart = (dir_.Path() / "new").string();

    const ChildResult r = Flashwright({"UDP", "127.0.3.4", firstPart, "firmware.enc"});

    EXPECT_EQ(r.status, ExitStatus(kExitFileUnreadable));
    EXPECT_TRUE(DeviceFrames().empty());
}

TEST_F(NetworkUpdateTest, ThreeCrcErrorsOnAFrameAreRetriedToSuccess) {
    SimOptions device;
    device.faults = {{2, 0x22, 3}};
    StartDevice("127.0.3.5", device);
    const std::string file = MakeUpdateFile("app.enc", 1500);
    const std::vector<Bytes> sent = SplitFrames(ImageOf(file));

    EXPECT_EQ(Flashwright({"UDP", "127.0.3.5", file}).status, 0);

    const std::vector<SimFrame> got = DeviceFrames();
    EXPECT_EQ(NumbersOf(got), (std::vector<unsigned>{0, 1, 2, 2, 2, 2, 3, 4, 5}));
    for (const SimFrame& f : got) {
        EXPECT_EQ(f.bytes, sent[f.frameNumber]) << "frame " << f.frameNumber;
    }
}

TEST_F(NetworkUpdateTest, FourthCrcErrorOnOneFrameEndsWithTooManyErrors) {
    SimOptions device;
    device.faults = {{2, 0x22, 4}};
    StartDevice("127.0.3.6", device);
    const std::string file = MakeUpdateFile("app.enc", 1500);

    EXPECT_EQ(Flashwright({"UDP", "127.0.3.6", file}).status, ExitStatus(kExitTooManyErrors));
    EXPECT_EQ(NumbersOf(DeviceFrames()), (std::vector<unsigned>{0, 1, 2, 2, 2, 2}));
}

TEST_F(NetworkUpdateTest, NotReadyStopsAtOnce) {
    SimOptions device;
    device.faults = {{1, 0xFE, 1}};
    StartDevice("127.0.3.7", device);
    const std::string file = MakeUpdateFile("app.enc", 1500);

    EXPECT_EQ(Flashwright({"UDP", "127.0.3.7", file}).status, ExitStatus(kExitNotReady));
    EXPECT_EQ(NumbersOf(DeviceFrames()), (std::vector<unsigned>{0, 1}));
}

TEST_F(NetworkUpdateTest, SignatureErrorOnEveryFrameStillSendsEveryFrame) {
    SimOptions device;
    device.defaultReply = 0x33;
    StartDevice("127.0.3.8", device);
    const std::string file = MakeUpdateFile("app.enc", 1500);

    EXPECT_EQ(Flashwright({"UDP", "127.0.3.8", file}).status, ExitStatus(kExitSignatureError));
    EXPECT_EQ(BytesOf(DeviceFrames()), SplitFrames(ImageOf(file)));
}

TEST_F(NetworkUpdateTest, ADatagramThatAnswersNoFrameIsDropped) {
    struct Case {
        const char* address;
        SimExtraByte extra;
        std::vector<SimFault> faults;
        std::vector<unsigned> numbers;
    };
    // Frame 0's acknowledgement duplicated by the network, then a CRC error for frame 1: the
    // copy must not pass for frame 1's reply. A stray byte after frame 0 changes nothing.
    for (const Case& c :
         {Case{"127.0.3.14", {0, std::nullopt}, {{1, 0x22, 1}}, {0, 1, 1, 2, 3, 4, 5}},
          Case{"127.0.3.15", {0, 0x22}, {}, {0, 1, 2, 3, 4, 5}}}) {
        SimOptions device;
        device.extraBytes = {c.extra};
        device.faults = c.faults;
        StartDevice(c.address, device);
        const std::string file = MakeUpdateFile("app.enc", 1500);

        EXPECT_EQ(Flashwright({"UDP", c.address, file}).status, 0) << c.address;
        EXPECT_EQ(NumbersOf(DeviceFrames()), c.numbers) << c.address;
        EXPECT_EQ(device_->Inspect([](const BootloaderSim& s) { return s.AcceptedImage(); }),
                  ImageOf(file))
            << c.address;
    }
}

TEST_F(NetworkUpdateTest, UnusableFilesEndAfterSynchronisationWithNothingSent) {
    StartDevice("127.0.3.9");
    const auto path = [&](const char* name) { return (dir_.Path() / name).string(); };
    WriteText(path("one.enc"), "1");
    WriteText(path("odd.enc"), "011");
    // The second frame declares 0x14 body bytes but holds 2: refused before any is sent.
    WriteText(path("malformed.enc"), "00014400144142");

    EXPECT_EQ(Flashwright({"UDP", "127.0.3.9", path("missing.enc")}).status,
              ExitStatus(kExitFileUnreadable));
    // A named pipe without a writer is refused at once instead of blocking the program.
    ASSERT_EQ(::mkfifo(path("pipe.enc").c_str(), 0600), 0);
    ChildOptions bounded;
    bounded.limit = std::chrono::seconds(20);
    const ChildResult pipe = Flashwright({"UDP", "127.0.3.9", path("pipe.enc")}, bounded);
    EXPECT_FALSE(pipe.killed);
    EXPECT_EQ(pipe.status, ExitStatus(kExitFileUnreadable));
    EXPECT_EQ(Flashwright({"UDP", "127.0.3.9", path("one.enc")}).status,
              ExitStatus(kExitFileTooShort));
    EXPECT_EQ(Flashwright({"UDP", "127.0.3.9", path("odd.enc")}).status,
              ExitStatus(kExitFileMalformed));
    EXPECT_EQ(Flashwright({"UDP", "127.0.3.9", path("malformed.enc")}).status,
              ExitStatus(kExitFileMalformed));

    EXPECT_TRUE(DeviceFrames().empty());
    EXPECT_EQ(device_->Inspect([](const BootloaderSim& s) { return s.SyncAnswers(); }), 5u);
}

TEST_F(NetworkUpdateTest, KeywordAloneCannotOpenTheLink) {
    const ChildResult r = Flashwright({"UDP"});
    EXPECT_EQ(r.status, ExitStatus(kExitOpenFailed));
    EXPECT_EQ(r.status, 246);
}

TEST_F(NetworkUpdateTest, TerminalShowsProgressAndTheVerdict) {
    SimOptions device;
    device.faults = {{3, 0xFE, 1}};
    StartDevice("127.0.3.10", device);
    const std::string file = MakeUpdateFile("app.enc", 3000);
    ChildOptions terminal;
    terminal.stderrOnTerminal = true;

    const ChildResult ok = Flashwright({"UDP", "127.0.3.10", file}, terminal);
    EXPECT_EQ(ok.status, ExitStatus(kExitNotReady));
    EXPECT_NE(ok.err.find("Bootloader version 1.05"), std::string::npos) << ok.err;
    EXPECT_NE(ok.err.find("KiB"), std::string::npos) << ok.err;
    EXPECT_NE(ok.err.find("Error: BootLoader is hanging! (exit code -17)"), std::string::npos)
        << ok.err;
    EXPECT_EQ(ok.out, "");
}

TEST_F(NetworkUpdateTest, TerminalShowsTheFullBarOnSuccess) {
    StartDevice("127.0.3.11");
    const std::string file = MakeUpdateFile("app.enc", 3000);
    ChildOptions terminal;
    terminal.stderrOnTerminal = true;

    const ChildResult r = Flashwright({"UDP", "127.0.3.11", file}, terminal);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("100%  3.0 / 3.0 KiB"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Programming successful"), std::string::npos) << r.err;
}

TEST_F(NetworkUpdateTest, DebugLogSwitchTracesTheUpdateInTheStateFolderWhenInstalled) {
    StartDevice("127.0.3.12");
    const std::string file = MakeUpdateFile("app.enc", 600);
    // A copy of the program outside its build folder is an installed one, even where its own
    // folder is writable (root running /usr/bin/flashwright).
    const auto copy = dir_.Path() / "bin" / "flashwright";
    std::filesystem::create_directory(copy.parent_path());
    std::filesystem::copy_file(FlashwrightProgram(), copy);
    const auto state = dir_.Path() / "state";
    ChildOptions options;
    options.environment = {{"FLASHWRIGHT_DEBUG_LOG", "1"}, {"XDG_STATE_HOME", state.string()}};

    const ChildResult r = RunChild(copy.string(), {"UDP", "127.0.3.12", file}, options);

    EXPECT_EQ(r.status, 0);
    std::ifstream in(state / "flashwright" / "debug_log.txt");
    const std::string log{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    EXPECT_NE(log.find("| L:4 | S:020 | UpdateAVR(" + file + ")"), std::string::npos) << log;
    EXPECT_NE(log.find("~UpdateAVR() - done"), std::string::npos) << log;
    EXPECT_TRUE(std::filesystem::exists(state / "flashwright" / "debug_log.bin"));
    EXPECT_FALSE(std::filesystem::exists(copy.parent_path() / "debug_log.txt"));
}

TEST_F(NetworkUpdateTest, SimulatorProgramServesAnUpdateAndWritesWhatItAccepted) {
    const auto path = [&](const char* name) { return (dir_.Path() / name).string(); };
    WriteText(path("app.bin"), std::string(3000, 'A') + std::string(100, 'B'));
    const ChildResult made = RunChild(
        SimulatorProgram(), {"make-enc", path("app.bin"), path("app.enc"), "--frame-size", "200"});
    ASSERT_EQ(made.status, 0) << made.err;

    auto served = std::async(std::launch::async, [&] {
        return RunChild(SimulatorProgram(),
                        {"--address", "127.0.3.13", "--fault", "4:crc", "--image", path("got.img"),
                         "--payload", path("got.bin"), "--idle", "300", "--once"});
    });
    // The device may still be starting: the update keeps asking for up to 10 s.
    EXPECT_EQ(Flashwright({"UDP", "127.0.3.13", path("app.enc")}).status, 0);
    const ChildResult device = served.get();

    EXPECT_EQ(device.status, 0) << device.err;
    EXPECT_NE(device.out.find("update 1 served: 16 frames accepted (3132 bytes) of 17 received, "
                              "1 CRC errors"),
              std::string::npos)
        << device.out;
    EXPECT_EQ(dir_.Read("got.bin"), dir_.Read("app.bin"));
    const Bytes image = ImageOf(path("app.enc"));
    EXPECT_EQ(dir_.Read("got.img"), std::string(image.begin(), image.end()));
}

TEST(CommandLineProgram, HelpAndVersionExitZero) {
    const ChildResult help = RunChild(FlashwrightProgram(), {"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("flashwright UDP <address> <file>"), std::string::npos);
    EXPECT_NE(help.out.find("-10 gives 246"), std::string::npos);
    EXPECT_NE(help.out.find("FLASHWRIGHT_DEBUG_LOG=1"), std::string::npos);

    const ChildResult version = RunChild(FlashwrightProgram(), {"--version"});
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out.rfind("flashwright ", 0), 0u) << version.out;

    const ChildResult simHelp = RunChild(SimulatorProgram(), {"--help"});
    EXPECT_EQ(simHelp.status, 0);
    EXPECT_NE(simHelp.out.find("flashwright-sim make-enc"), std::string::npos);
}

TEST(CommandLineProgram, WithoutADisplayTheProgramSaysWhatToDoAndExitsWithStatus2) {
    ChildOptions noDisplay;
    noDisplay.environment = {{"DISPLAY", ""},
                             {"WAYLAND_DISPLAY", ""},
                             {"XDG_SESSION_TYPE", ""},
                             {"QT_QPA_PLATFORM", ""}};
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, std::vector<std::string>{"upd", "127.0.0.1", "app.enc"}}) {
        const ChildResult r = RunChild(FlashwrightProgram(), args, noDisplay);
        EXPECT_EQ(r.status, kExitUsage) << r.err;
        EXPECT_NE(r.err.find("no X display (DISPLAY is not set)"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("flashwright UDP <address> <file>"), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("flashwright --help"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("did you mean \"UDP\"?") != std::string::npos, !args.empty()) << r.err;
    }
}

TEST_F(NetworkUpdateTest, RecordedAttemptShowsInTheRecordsCsv) {
    StartDevice("127.0.21.7");
    const std::string file = MakeUpdateFile("app.enc", 600);
    const std::string db = (dir_.Path() / "records.sqlite").string();

    EXPECT_EQ(Flashwright({"UDP", "127.0.21.7", file, "--records", db}).status, 0);
    const ChildResult r = Flashwright({"records", "--records", db, "--csv"});

    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.starts_with("id,started_utc,ended_utc,state,")) << r.out;
    EXPECT_NE(r.out.find(",UDP,127.0.21.7,,1.05,1,"), std::string::npos);
    EXPECT_NE(r.out.find(",app.enc," + std::to_string(std::filesystem::file_size(file)) + ","),
              std::string::npos);
    EXPECT_NE(r.out.find(",0,0,Programming successful,"), std::string::npos);
}
