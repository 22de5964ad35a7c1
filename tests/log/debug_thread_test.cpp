#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "log/debug_log.h"
#include "log/debug_thread.h"
#include "log_test_support.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

std::shared_ptr<C_Debug_Thread> MakeWorker(const TempDir& dir) {
    const DebugLogOptions options = TestOptions(dir.Path());
    return C_Debug_Thread::Create(
        {dir.Path(), options.listenAddress, options.textPort, options.dumpPort});
}

// How many passes the worker makes in a while of doing nothing.
std::uint64_t IdlePasses(const C_Debug_Thread& worker) {
    const std::uint64_t before = worker.Passes();
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    return worker.Passes() - before;
}

TEST(DebugThread, SleepsWhileIdleUnlessAListenerNeedsPolling) {
    TempDir dir;
    const auto worker = MakeWorker(dir);
    ASSERT_TRUE(worker->Start());
    ASSERT_TRUE(WaitUntil([&] { return worker->Passes() > 0; }));
    EXPECT_LE(IdlePasses(*worker), 1U) << "all outputs off";

    worker->SetOutputs(true, false, false, false);
    worker->Queue(TextEntry(2, "one"));
    const std::string expected = "\n" + std::string("14:03:07,045 | L:2 | S:009 | one\n");
    ASSERT_EQ(WaitForContent(dir.Path() / "debug_log.txt", expected), expected);
    EXPECT_LE(IdlePasses(*worker), 1U) << "only a file on, queue empty";

    worker->SetOutputs(true, false, true, false);
    const std::uint64_t before = worker->Passes();
    EXPECT_TRUE(WaitUntil([&] { return worker->Passes() > before + 20; })) << "listener on";
    EXPECT_TRUE(worker->Stop(std::chrono::seconds(5)));
}

TEST(DebugThread, SwitchingEverythingOffDiscardsQueuedEntries) {
    TempDir dir;
    const auto worker = MakeWorker(dir);  // not started: entries stay queued
    worker->SetOutputs(true, false, false, false);
    worker->Queue(TextEntry(2, "first"));
    worker->Queue(TextEntry(2, "second"));
    worker->SetOutputs(false, false, true, false);
    EXPECT_EQ(worker->QueueLength(), 2U) << "a listener is still on";
    worker->SetOutputs(false, false, false, false);
    EXPECT_EQ(worker->QueueLength(), 0U);

    ASSERT_TRUE(worker->Start());
    worker->SetOutputs(true, false, false, false);
    worker->Queue(TextEntry(2, "after"));
    const std::string expected = "\n\n" + std::string("14:03:07,045 | L:2 | S:009 | after\n");
    EXPECT_EQ(WaitForContent(dir.Path() / "debug_log.txt", expected), expected);
    EXPECT_TRUE(worker->Stop(std::chrono::seconds(5)));
}

TEST(DebugThread, WorkerThatMissesTheStopTimeoutFinishesOnItsOwn) {
    TempDir dir;
    // The text file is a pipe nobody reads yet: the worker blocks in its write.
    const fs::path pipe = dir.Path() / "debug_log.txt";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const UniqueFd reader(::open(pipe.c_str(), O_RDONLY | O_NONBLOCK));
    ASSERT_TRUE(reader.Valid());

    auto worker = MakeWorker(dir);
    ASSERT_TRUE(worker->Start());
    worker->SetOutputs(true, false, false, false);
    // More than the pipe holds: once taken, this entry cannot be written to its end.
    worker->Queue(TextEntry(2, std::string(1 << 20, 'x')));
    ASSERT_TRUE(WaitUntil([&] { return worker->QueueLength() == 0; }));
    const std::weak_ptr<C_Debug_Thread> alive = worker;
    EXPECT_FALSE(worker->Stop(std::chrono::milliseconds(50)));
    worker.reset();
    EXPECT_FALSE(alive.expired()) << "the detached thread keeps its worker";

    char buffer[65536];
    EXPECT_TRUE(WaitUntil([&] {
        while (::read(reader.Get(), buffer, sizeof buffer) > 0) {
        }
        return alive.expired();
    }));
}

// Run under ThreadSanitizer: logging from one thread while another switches the outputs,
// the level and the dump format must not race with the worker's writes.
TEST(DebugThread, LoggingWhileSwitchingOutputsDoesNotRace) {
    TempDir dir;
    const DebugLogOptions options = TestOptions(dir.Path());
    C_Debug_Log log(options);
    log.SetLevel(5);
    log.SetOutputs(true, true, true, true);
    std::optional<TcpClient> client = TcpClient::Connect(options.listenAddress, options.textPort);
    ASSERT_TRUE(client);

    std::atomic<bool> done{false};
    std::thread logger([&] {
        const std::vector<std::uint8_t> bytes(40, 0x5A);
        for (int i = 0; !done; ++i) {
            log.Log(i % 6, "line " + std::to_string(i), 9);
            log.LogData(i % 6, bytes, 21);
        }
    });
    for (int round = 0; round < 200; ++round) {
        const bool text = (round & 1) != 0;
        const bool dump = (round & 2) != 0;
        const bool listener = (round % 7) == 0;
        log.SetOutputs(text, dump, listener, !listener);
        log.SetDumpFormat(static_cast<unsigned>(round % 3));
        log.SetLevel(round % 6);
        bool on[4];
        log.GetOutputs(on[0], on[1], on[2], on[3]);
        EXPECT_EQ(on[0], text);
        EXPECT_EQ(on[1], dump);
    }
    done = true;
    logger.join();

    log.SetLevel(5);
    log.SetOutputs(true, false, false, false);
    log.Log(2, "last", 9);
    EXPECT_TRUE(WaitUntil([&] {
        return ReadFile(dir.Path() / "debug_log.txt").ends_with("| L:2 | S:009 | last\n");
    }));
}

}  // namespace
