#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include "engine/clock.h"
#include "log/log_sink.h"
#include "records/attempt_record.h"

// Log source of the result hooks' lines.
inline constexpr int kSourceResultHook = 60;

// After SIGTERM to a hook's group that ran past its time, this long until SIGKILL.
inline constexpr unsigned kHookKillGraceMs = 1000;

// One run of a job's result hook.
struct HookCall {
    // The program (an absolute or already resolved path, run without a shell) and its
    // arguments, as the job gives them.
    std::vector<std::string> argv;
    // The record's JSON object; the hook reads it and a line end on its standard input.
    std::string stdinJson;
    // Variables set for the hook on top of the station's environment.
    std::vector<std::pair<std::string, std::string>> env;
    unsigned timeoutSeconds = 10;
};

// How a hook ended.
struct HookOutcome {
    enum class Kind { Exited, Signalled, TimedOut, NotStarted };
    Kind kind = Kind::NotStarted;
    int exitStatus = 0;           // Exited
    int signal = 0;               // Signalled
    unsigned timeoutSeconds = 0;  // TimedOut
    std::string startError;       // NotStarted: why, as the system says it
    // "exit 3", "signal 9", "killed after 10 s (timed out)", "could not start: <reason>".
    std::string Text() const;
    bool Succeeded() const { return kind == Kind::Exited && exitStatus == 0; }
};

// The FLASHWRIGHT_* variables a hook gets for the attempt's record (written, with its uuid).
std::vector<std::pair<std::string, std::string>> HookEnvironment(const AttemptRecord& record,
                                                                 std::string_view job,
                                                                 std::string_view lot);

// Runs result hooks beside the station, each in a process group of its own with its standard
// output and error on /dev/null (the terminal belongs to the board). Run returns at once; a
// thread per hook writes its input, waits for it, ends its group at its time-out and hands
// the outcome to `done` on that thread. Ending this waits for the hooks still running, each
// until its time-out at most, so no hook outlives the station.
class ResultHooks {
  public:
    explicit ResultHooks(LogSink& log, Clock& clock = DefaultClock());
    ~ResultHooks();
    ResultHooks(const ResultHooks&) = delete;
    ResultHooks& operator=(const ResultHooks&) = delete;

    void Run(HookCall call, std::function<void(const HookOutcome&)> done);

  private:
    struct Runner {
        std::thread thread;
        bool finished = false;  // guarded by mutex_
    };
    HookOutcome RunHook(const HookCall& call);
    void JoinFinished();

    LogSink& log_;
    Clock& clock_;
    std::mutex mutex_;
    std::list<Runner> runners_;
};
