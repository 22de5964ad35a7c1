#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "log/log_entry.h"
#include "log/log_files.h"
#include "log/log_format.h"
#include "log/remote_listener.h"

struct DebugThreadSettings {
    std::filesystem::path folder;  // of the log files
    std::string listenAddress;     // empty: any local address
    int textPort = 23;
    int dumpPort = 24;
};

// The log worker: owns the queue, the log files and the listeners, and writes one entry per
// pass of its thread. The thread shares ownership of this object, so a thread that does not
// end in time can be left to finish on its own without touching freed memory.
class C_Debug_Thread : public std::enable_shared_from_this<C_Debug_Thread> {
    struct PassKey {
        explicit PassKey() = default;
    };

  public:
    // Builds the worker without its thread; Start runs it.
    static std::shared_ptr<C_Debug_Thread> Create(DebugThreadSettings settings);
    C_Debug_Thread(PassKey, DebugThreadSettings settings);
    ~C_Debug_Thread();
    C_Debug_Thread(const C_Debug_Thread&) = delete;
    C_Debug_Thread& operator=(const C_Debug_Thread&) = delete;

    // Starts the thread; false when it cannot be created.
    bool Start();
    // Asks the thread to stop and waits up to the timeout for it to close everything. A
    // thread that has not ended by then is detached (false) and ends by itself.
    bool Stop(std::chrono::milliseconds timeout);
    // Waits until the thread has taken every queued entry, at most for the timeout.
    void WaitForEmptyQueue(std::chrono::milliseconds timeout);

    // Whether an entry of the level would be queued: the level lies in 0..5, some output is
    // on and the level passes the threshold. Lock-free, so callers may ask before every line.
    bool Wants(int level) const;
    void Queue(LogEntry&& entry);

    int SetLevel(int level);
    void SetDumpFormat(unsigned format);
    // Opens or closes the files, then starts or stops the listeners. Switching everything off
    // discards the queued entries unwritten.
    void SetOutputs(bool textFile, bool dumpFile, bool textListener, bool dumpListener);
    void GetOutputs(bool& textFile, bool& dumpFile, bool& textListener, bool& dumpListener) const;

    std::size_t QueueLength() const;
    // Passes of the worker loop so far, to see that an idle worker sleeps.
    std::uint64_t Passes() const { return passes_.load(std::memory_order_relaxed); }

  private:
    enum Output : unsigned {
        kTextFile = 1,
        kDumpFile = 2,
        kTextListener = 4,
        kDumpListener = 8,
        kListeners = kTextListener | kDumpListener,
    };

    void Run();
    void ServeListeners();
    std::optional<LogEntry> NextEntry();
    void Write(const LogEntry& entry);
    void WriteText(const LogEntry& entry);
    void WriteDump(const LogEntry& entry);
    unsigned OpenFiles(bool text, bool dump);
    unsigned StartListeners(bool text, bool dump);
    void DiscardQueue();
    void Wake();
    void Finish();

    const DebugThreadSettings settings_;

    // Read by the callers' threads without a lock: a Log with every output off costs one load.
    std::atomic<unsigned> outputs_{0};
    std::atomic<int> threshold_{2};
    std::atomic<int> dumpFormat_{kDumpHex};
    std::atomic<bool> stop_{false};
    std::atomic<std::uint64_t> passes_{0};

    // Held by SetOutputs while it opens and closes, and by the worker while it writes one
    // entry or serves the listeners, so a switch never meets a write in progress.
    std::mutex outputMutex_;
    LogFile textFile_;
    LogFile dumpFile_;
    RemoteListener textListener_;
    RemoteListener dumpListener_;

    // Guards the queue and the end flag only; no file or socket work is done under it.
    mutable std::mutex queueMutex_;
    std::condition_variable workCv_;  // the worker waits for entries, output changes, stop
    std::condition_variable idleCv_;  // the front waits for an empty queue, the thread's end
    std::deque<LogEntry> queue_;
    bool ended_ = false;

    std::thread thread_;
};
