#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/file.h>
#include <sys/socket.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "log/debug_log.h"
#include "log_test_support.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

const std::string kLine = "14:03:07,045 | L:";

std::string Line(int level, int source, const std::string& text) {
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%s%i | S:%.3i | ", kLine.c_str(), level, source);
    return prefix + text + "\n";
}

std::string DumpHeader(int level, int source, int length) {
    return "\n" + kLine + std::to_string(level) + " | S:0" + std::to_string(source) +
           " | Length:" + std::to_string(length) + "\n";
}

struct Outputs {
    bool textFile = false, dumpFile = false, textListener = false, dumpListener = false;
    int result = 0;
    bool operator==(const Outputs&) const = default;
};

Outputs GetOutputs(const C_Debug_Log& log) {
    Outputs o;
    o.result = log.GetOutputs(o.textFile, o.dumpFile, o.textListener, o.dumpListener);
    return o;
}

class DebugLogFiles : public ::testing::Test {
  protected:
    fs::path Text() const { return dir_.Path() / "debug_log.txt"; }
    fs::path Dump() const { return dir_.Path() / "debug_log.bin"; }
    TempDir dir_;
};

TEST_F(DebugLogFiles, EachSwitchingOnAppendsAnEmptyLineAndKeepsEarlierContents) {
    dir_.Write("debug_log.txt", "earlier\n");
    const std::string first = Line(4, 9, "OnButton_Program() - send update");
    const std::string second = Line(2, 30, "second");
    {
        C_Debug_Log log(TestOptions(dir_.Path()));
        log.SetLevel(5);
        log.SetOutputs(true, false, false, false);
        log.Log(4, "OnButton_Program() - send update", 9);
        ASSERT_EQ(WaitForContent(Text(), "earlier\n\n" + first), "earlier\n\n" + first);
        log.SetOutputs(false, false, false, false);
        log.SetOutputs(true, false, false, false);
        log.Log(2, "second", 30);
    }
    EXPECT_EQ(ReadFile(Text()), "earlier\n\n" + first + "\n" + second);
    EXPECT_FALSE(fs::exists(Dump()));
}

TEST_F(DebugLogFiles, DumpsRenderInTheFormatSetWhenWritten) {
    C_Debug_Log log(TestOptions(dir_.Path()));
    log.SetLevel(5);
    log.SetOutputs(false, true, false, false);
    std::string expected = "\n";

    log.SetDumpFormat(2);
    log.LogData(4, std::vector<std::uint8_t>{240, 1, 255, 7}, 21);
    expected += DumpHeader(4, 21, 4) + "240 001 255 007 ";
    ASSERT_EQ(WaitForContent(Dump(), expected), expected);

    log.SetDumpFormat(1);
    std::vector<std::uint8_t> seventeen(17);
    for (std::size_t i = 0; i < seventeen.size(); ++i) {
        seventeen[i] = static_cast<std::uint8_t>(i);
    }
    log.LogData(4, seventeen, 11);
    expected += DumpHeader(4, 11, 17) + "00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F \n10 ";
    ASSERT_EQ(WaitForContent(Dump(), expected), expected);

    log.SetDumpFormat(0);
    log.SetDumpFormat(3);  // out of range: ignored, raw stays
    log.LogData(4, std::vector<std::uint8_t>{'A', 0, 'B', 0}, 31);
    expected += DumpHeader(4, 31, 4) + std::string("A\0B\0", 4);
    EXPECT_EQ(WaitForContent(Dump(), expected), expected);
    // Dumps never reach the text file.
    EXPECT_FALSE(fs::exists(Text()));
}

TEST_F(DebugLogFiles, ThresholdDropsLessImportantLevels) {
    {
        C_Debug_Log log(TestOptions(dir_.Path()));
        log.SetOutputs(true, false, false, false);
        // The worker starts at threshold 2.
        EXPECT_TRUE(log.Wants(2));
        EXPECT_FALSE(log.Wants(3));
        log.Log(4, "dropped at 2", 9);
        log.Log(2, "kept at 2", 9);
        EXPECT_EQ(log.SetLevel(5), 0);
        log.Log(4, "kept at 5", 9);
        log.Log(5, "five at 5", 9);
        log.Log(6, "six", 9);
        log.Log(-1, "minus one", 9);
        EXPECT_FALSE(log.Wants(6));
        EXPECT_FALSE(log.Wants(-1));
        EXPECT_EQ(log.SetLevel(6), -1);
        EXPECT_EQ(log.SetLevel(-1), -1);
        log.Log(5, "still five", 9);
    }
    EXPECT_EQ(ReadFile(Text()), "\n" + Line(2, 9, "kept at 2") + Line(4, 9, "kept at 5") +
                                    Line(5, 9, "five at 5") + Line(5, 9, "still five"));
}

TEST_F(DebugLogFiles, NothingIsQueuedWhileEveryOutputIsOff) {
    {
        C_Debug_Log log(TestOptions(dir_.Path()));
        log.SetLevel(5);
        for (int level = 0; level <= 5; ++level) {
            EXPECT_FALSE(log.Wants(level));
            log.Log(level, "while off", 9);
            log.LogData(level, std::vector<std::uint8_t>{1, 2}, 21);
        }
        log.SetOutputs(true, true, false, false);
        log.Log(4, "after", 9);
    }
    EXPECT_EQ(ReadFile(Text()), "\n" + Line(4, 9, "after"));
    EXPECT_EQ(ReadFile(Dump()), "\n");
}

TEST_F(DebugLogFiles, EmptyDumpsAreDropped) {
    {
        C_Debug_Log log(TestOptions(dir_.Path()));
        log.SetOutputs(false, true, false, false);
        log.LogData(2, {}, 21);
        log.LogData(2, std::span<const std::uint8_t>(static_cast<const std::uint8_t*>(nullptr), 0),
                    21);
        log.LogData(2, std::vector<std::uint8_t>{0xAB}, 22);
    }
    EXPECT_EQ(ReadFile(Dump()), "\n" + DumpHeader(2, 22, 1) + "AB ");
}

TEST_F(DebugLogFiles, ImplausibleTimeWritesAnExceptionLineInstead) {
    std::atomic<int> hour{24};
    DebugLogOptions options = TestOptions(dir_.Path());
    options.now = [&hour] {
        LogTime t = FixedTime();
        t.hour = static_cast<std::uint16_t>(hour.load());
        return t;
    };
    {
        C_Debug_Log log(options);
        log.SetOutputs(true, false, false, false);
        log.Log(2, "at hour 24", 9);
        hour = 14;
        log.Log(2, "at hour 14", 9);
    }
    EXPECT_EQ(ReadFile(Text()), "\n" + Line(2, 9, "at hour 14"));
    const std::string exception = ReadFile(dir_.Path() / "_exception.txt");
    int ms = -1;
    unsigned worker = 0;
    unsigned entry = 0;
    int end = 0;
    ASSERT_EQ(std::sscanf(exception.c_str(),
                          "(%d) C_Debug_Thread::Run() - Daten nicht plausibel (this 0x%X | Adr. "
                          "0x%X)!%n",
                          &ms, &worker, &entry, &end),
              3)
        << exception;
    EXPECT_EQ(exception.substr(static_cast<std::size_t>(end)), "\n\n");
    EXPECT_GE(ms, 0);
}

TEST_F(DebugLogFiles, ShutdownWritesWhatWasQueuedBeforeIt) {
    constexpr int kEntries = 300;
    std::string expected = "\n";
    {
        C_Debug_Log log(TestOptions(dir_.Path()));
        log.SetOutputs(true, false, false, false);
        for (int i = 0; i < kEntries; ++i) {
            log.Log(2, "entry " + std::to_string(i), 30);
            expected += Line(2, 30, "entry " + std::to_string(i));
        }
    }
    EXPECT_EQ(ReadFile(Text()), expected);
}

TEST_F(DebugLogFiles, DumpFileThatCannotBeOpenedSwitchesTheTextFileOffToo) {
    // Another writer holds the dump file.
    const UniqueFd other(::open(dir_.Write("debug_log.bin", "other\n").c_str(), O_WRONLY));
    ASSERT_EQ(::flock(other.Get(), LOCK_EX), 0);
    C_Debug_Log log(TestOptions(dir_.Path()));
    EXPECT_EQ(log.SetOutputs(true, true, false, false), 0);
    EXPECT_EQ(GetOutputs(log), Outputs{});
    EXPECT_FALSE(log.Wants(0));
    EXPECT_EQ(ReadFile(Dump()), "other\n");

    ::flock(other.Get(), LOCK_UN);
    log.SetOutputs(true, true, false, false);
    EXPECT_EQ(GetOutputs(log), (Outputs{true, true, false, false, 0}));
}

TEST_F(DebugLogFiles, FailingWritesDoNotStopTheLog) {
    // Every write to /dev/full fails with "no space left".
    fs::create_symlink("/dev/full", Text());
    C_Debug_Log log(TestOptions(dir_.Path()));
    log.SetOutputs(true, true, false, false);
    ASSERT_EQ(GetOutputs(log), (Outputs{true, true, false, false, 0}));
    for (int i = 0; i < 50; ++i) {
        log.Log(2, "lost", 9);
    }
    log.LogData(2, std::vector<std::uint8_t>{1}, 21);
    const std::string expected = "\n" + DumpHeader(2, 21, 1) + "01 ";
    EXPECT_EQ(WaitForContent(Dump(), expected), expected);
}

TEST_F(DebugLogFiles, ListenerPortThatCannotBeBoundStaysSwitchedOnSilently) {
    DebugLogOptions options = TestOptions(dir_.Path());
    const UniqueFd taken(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(options.textPort));
    ::inet_pton(AF_INET, options.listenAddress.c_str(), &a.sin_addr);
    ASSERT_EQ(::bind(taken.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ASSERT_EQ(::listen(taken.Get(), 1), 0);

    C_Debug_Log log(options);
    EXPECT_EQ(log.SetOutputs(true, false, true, false), 0);
    EXPECT_EQ(GetOutputs(log), (Outputs{true, false, true, false, 0}));
    log.Log(2, "still written", 9);
    const std::string expected = "\n" + Line(2, 9, "still written");
    EXPECT_EQ(WaitForContent(Text(), expected), expected);
}

TEST(DebugLogWithoutWorker, EveryCallDoesNothing) {
    TempDir dir;
    DebugLogOptions options = TestOptions(dir.Path());
    options.startWorker = false;
    C_Debug_Log log(options);
    EXPECT_EQ(log.SetOutputs(true, true, false, false), 0);
    EXPECT_EQ(log.SetLevel(9), 0);
    log.SetDumpFormat(2);
    EXPECT_FALSE(log.Wants(0));
    log.Log(0, "nowhere", 9);
    log.LogData(0, std::vector<std::uint8_t>{1}, 21);
    bool on[4] = {true, true, true, true};
    EXPECT_EQ(log.GetOutputs(on[0], on[1], on[2], on[3]), -1);
    EXPECT_EQ(log.Folder(), dir.Path().string());
    EXPECT_TRUE(fs::is_empty(dir.Path()));
}

}  // namespace
