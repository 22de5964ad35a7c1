#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "log/log_sink.h"

// Local time of day of a log entry, as the platform's local-time record holds it.
struct LogTime {
    std::uint16_t year = 0;
    std::uint16_t month = 0;
    std::uint16_t dayOfWeek = 0;
    std::uint16_t day = 0;
    std::uint16_t hour = 0;
    std::uint16_t minute = 0;
    std::uint16_t second = 0;
    std::uint16_t milliseconds = 0;
};

struct DebugLogOptions {
    // Folder of the log files; empty means DefaultLogFolder() (log/program_folder.h).
    std::string folder;
    int textPort = 23;
    int dumpPort = 24;
    // Address the listeners bind to; empty means any local address.
    std::string listenAddress;
    // Source of entry time stamps; empty means the local time of day.
    std::function<LogTime()> now;
    // False builds the front without its worker, as when the worker thread cannot be
    // created: every call then does nothing.
    bool startWorker = true;
};

class C_Debug_Thread;

// The log front: the calls every module logs through. Entries are queued here and written
// by a worker thread (C_Debug_Thread) to the log files and the remote listeners.
class C_Debug_Log final : public LogSink {
  public:
    C_Debug_Log();
    explicit C_Debug_Log(DebugLogOptions options);
    ~C_Debug_Log() override;

    C_Debug_Log(const C_Debug_Log&) = delete;
    C_Debug_Log& operator=(const C_Debug_Log&) = delete;

    void Log(int level, std::string_view text, int source) override;
    void LogData(int level, std::span<const std::uint8_t> data, int source) override;
    void LogDeviceData(int level, std::span<const std::uint8_t> data, int source,
                       std::string_view device) override;
    bool Wants(int level) const override;

    int SetLevel(int level);
    void SetDumpFormat(unsigned format);
    int SetOutputs(bool textFile, bool dumpFile, bool textListener, bool dumpListener);
    int GetOutputs(bool& textFile, bool& dumpFile, bool& textListener, bool& dumpListener) const;

    // The folder the log files are written to.
    std::string Folder() const;
    // False when the worker thread could not be started: every call then does nothing.
    bool HasWorker() const { return worker_ != nullptr; }

  private:
    // Builds the entry (a dump when data is given) and hands it to the worker.
    void Queue(int level, int source, std::string_view text, std::span<const std::uint8_t> data,
               std::string_view device = {});

    std::string folder_;
    std::function<LogTime()> now_;
    // Null without a worker. Shared with the worker's own thread, which may outlive the front.
    std::shared_ptr<C_Debug_Thread> worker_;
};
