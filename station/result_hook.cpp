#include "station/result_hook.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "log/escaped_text.h"
#include "log/text_format.h"
#include "log/unique_fd.h"

extern char** environ;

namespace {

// The longest a hook's thread sleeps before it looks at the clock again. Without a process
// descriptor (an old kernel) it looks for the hook's end this often as well.
constexpr unsigned kHookWaitSliceMs = 1000;
constexpr unsigned kHookExitPollMs = 100;
constexpr int kHookLogLevel = 2;

std::string ErrorText(int error) {
    const char* text = ::strerrordesc_np(error);
    return text != nullptr ? text : "error " + std::to_string(error);
}

// The spawn's file actions and attributes, released however the start ends.
struct SpawnSetup {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
    SpawnSetup() {
        ::posix_spawn_file_actions_init(&actions);
        ::posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        ::posix_spawn_file_actions_destroy(&actions);
        ::posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// The station's environment with the call's variables put in (replacing any of the same name).
std::vector<std::string> HookEnvironmentStrings(const HookCall& call) {
    std::vector<std::string> env;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        const std::string_view text(*entry);
        const std::string_view name = text.substr(0, text.find('='));
        if (std::none_of(call.env.begin(), call.env.end(),
                         [&](const auto& variable) { return variable.first == name; })) {
            env.emplace_back(text);
        }
    }
    for (const auto& [name, value] : call.env) {
        env.push_back(name + "=" + value);
    }
    return env;
}

std::vector<char*> PointerList(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Starts the hook in a group of its own, with `input` as its standard input and /dev/null as
// its output; its pid, or the error number.
int SpawnHook(const HookCall& call, int input, pid_t& pid) {
    SpawnSetup setup;
    ::posix_spawn_file_actions_adddup2(&setup.actions, input, STDIN_FILENO);
    ::posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    ::posix_spawn_file_actions_adddup2(&setup.actions, STDOUT_FILENO, STDERR_FILENO);
    // The station's locks, sockets and devices stay the station's.
    ::posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1);
    // The hook starts with no signal blocked or ignored, whatever the station's thread had, so
    // the group's SIGTERM reaches it.
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    ::posix_spawnattr_setflags(
        &setup.attributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    ::posix_spawnattr_setpgroup(&setup.attributes, 0);
    ::posix_spawnattr_setsigmask(&setup.attributes, &none);
    ::posix_spawnattr_setsigdefault(&setup.attributes, &all);
    std::vector<std::string> argv = call.argv;
    std::vector<std::string> env = HookEnvironmentStrings(call);
    return ::posix_spawn(&pid, argv.front().c_str(), &setup.actions, &setup.attributes,
                         PointerList(argv).data(), PointerList(env).data());
}

// Whether the process has ended; it stays a zombie (its pid, the group's id, is not reused).
bool Ended(pid_t pid) {
    siginfo_t info{};
    return ::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
           info.si_pid == pid;
}

// Writes what the hook's input takes of `text` after `written`; closes the input when all of it
// is written or the hook closed its end.
void FeedInput(UniqueFd& input, std::string_view text, std::size_t& written, short events) {
    bool closed = (events & (POLLERR | POLLHUP | POLLNVAL)) != 0;
    if (!closed && (events & POLLOUT) != 0) {
        const ssize_t n = ::write(input.Get(), text.data() + written, text.size() - written);
        if (n > 0) {
            written += static_cast<std::size_t>(n);
        }
        closed = n < 0 && errno != EAGAIN && errno != EINTR;
    }
    if (closed || written == text.size()) {
        input.Reset();
    }
}

// A hook that runs: its process, readable when it ends, and its input still to be fed.
struct RunningHook {
    pid_t pid;
    UniqueFd process;
    UniqueFd input;
    std::string text;
    std::size_t written = 0;

    // Waits up to `ms` for the hook's end, feeding its input meanwhile; whether it ended.
    bool WaitFor(std::uint64_t ms, Clock& clock) {
        const std::uint64_t deadline = clock.NowMs() + ms;
        for (;;) {
            if (Ended(pid)) {
                return true;
            }
            const std::uint64_t now = clock.NowMs();
            if (now >= deadline) {
                return false;
            }
            pollfd fds[2]{};
            nfds_t count = 0;
            if (process.Valid()) {
                fds[count++] = {process.Get(), POLLIN, 0};
            }
            const nfds_t inputAt = count;
            if (input.Valid()) {
                fds[count++] = {input.Get(), POLLOUT, 0};
            }
            const auto slice = static_cast<int>(std::min<std::uint64_t>(
                deadline - now, process.Valid() ? kHookWaitSliceMs : kHookExitPollMs));
            if (::poll(fds, count, slice) > 0 && input.Valid()) {
                FeedInput(input, text, written, fds[inputAt].revents);
            }
        }
    }
};

// Collects the ended (or killed) hook; an ended one's exit status or signal goes into `outcome`.
void Reap(pid_t pid, bool ended, HookOutcome& outcome) {
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (ended && WIFEXITED(status)) {
        outcome.kind = HookOutcome::Kind::Exited;
        outcome.exitStatus = WEXITSTATUS(status);
    } else if (ended) {
        outcome.kind = HookOutcome::Kind::Signalled;
        outcome.signal = WTERMSIG(status);
    }
}

}  // namespace

std::string HookOutcome::Text() const {
    switch (kind) {
        case Kind::Exited:
            return "exit " + std::to_string(exitStatus);
        case Kind::Signalled:
            return "signal " + std::to_string(signal);
        case Kind::TimedOut:
            return StrPrintf("killed after %u s (timed out)", timeoutSeconds);
        case Kind::NotStarted:
            break;
    }
    return "could not start: " + startError;
}

std::vector<std::pair<std::string, std::string>> HookEnvironment(const AttemptRecord& record,
                                                                 std::string_view job,
                                                                 std::string_view lot) {
    std::string message = record.message;
    while (!message.empty() && message.back() == '\n') {
        message.pop_back();
    }
    return {{"FLASHWRIGHT_DEVICE", record.device},
            {"FLASHWRIGHT_RESULT_CODE",
             record.resultCode ? std::to_string(*record.resultCode) : record.resultText},
            {"FLASHWRIGHT_RESULT", message},
            {"FLASHWRIGHT_LOT", std::string(lot)},
            {"FLASHWRIGHT_JOB", std::string(job)},
            {"FLASHWRIGHT_RECORD_ID", record.uuid},
            {"FLASHWRIGHT_STATION", record.station}};
}

ResultHooks::ResultHooks(LogSink& log, Clock& clock) : log_(log), clock_(clock) {}

ResultHooks::~ResultHooks() {
    std::list<Runner> runners;
    {
        const std::lock_guard hold(mutex_);
        runners.swap(runners_);
    }
    for (Runner& runner : runners) {
        if (runner.thread.joinable()) {
            runner.thread.join();
        }
    }
}

void ResultHooks::Run(HookCall call, std::function<void(const HookOutcome&)> done) {
    JoinFinished();
    const std::lock_guard hold(mutex_);
    Runner& runner = runners_.emplace_back();
    runner.thread = std::thread([this, &runner, call = std::move(call), done = std::move(done)] {
        const HookOutcome outcome = RunHook(call);
        if (done) {
            done(outcome);
        }
        const std::lock_guard hold(mutex_);
        runner.finished = true;
    });
}

void ResultHooks::JoinFinished() {
    std::list<Runner> finished;
    {
        const std::lock_guard hold(mutex_);
        for (auto at = runners_.begin(); at != runners_.end();) {
            const auto next = std::next(at);
            if (at->finished) {
                finished.splice(finished.end(), runners_, at);
            }
            at = next;
        }
    }
    for (Runner& runner : finished) {
        if (runner.thread.joinable()) {
            runner.thread.join();
        }
    }
}

HookOutcome ResultHooks::RunHook(const HookCall& call) {
    HookOutcome outcome;
    outcome.timeoutSeconds = call.timeoutSeconds;
    if (call.argv.empty() || call.argv.front().empty()) {
        outcome.startError = "no program";
        return outcome;
    }
    // A hook that stops reading must not end the station: its EPIPE is enough.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    ::pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        outcome.startError = ErrorText(errno);
        return outcome;
    }
    UniqueFd input(ends[1]);
    pid_t pid = -1;
    {
        const UniqueFd hookEnd(ends[0]);
        if (const int error = SpawnHook(call, hookEnd.Get(), pid); error != 0) {
            outcome.startError = ErrorText(error);
            log_.Log(kHookLogLevel,
                     "result hook " + EscapedText(call.argv.front()) + ": " + outcome.Text(),
                     kSourceResultHook);
            return outcome;
        }
    }
    ::fcntl(input.Get(), F_SETFL, O_NONBLOCK);
    // Readable when the hook ends (by a system call: the C library's wrapper is not declared for
    // C++ everywhere).
    RunningHook hook{pid, UniqueFd(static_cast<int>(::syscall(SYS_pidfd_open, pid, 0))),
                     std::move(input), call.stdinJson + "\n"};
    const bool ended = hook.WaitFor(std::uint64_t{call.timeoutSeconds} * 1000, clock_);
    hook.input.Reset();
    if (!ended) {
        // The whole group: a hook's own children must not outlive it.
        ::kill(-pid, SIGTERM);
        hook.WaitFor(kHookKillGraceMs, clock_);
        ::kill(-pid, SIGKILL);
        outcome.kind = HookOutcome::Kind::TimedOut;
    }
    Reap(pid, ended, outcome);
    log_.Log(kHookLogLevel, "result hook " + EscapedText(call.argv.front()) + ": " + outcome.Text(),
             kSourceResultHook);
    // An EPIPE left its SIGPIPE pending on this thread: taken here, it goes nowhere else.
    const timespec now{};
    while (::sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {
    }
    return outcome;
}
