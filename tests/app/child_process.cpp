#include "child_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <map>

#include "support/temp_dir.h"

extern char** environ;

namespace {

// RAII for a file descriptor of the parent.
class Fd {
  public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

std::vector<std::string> Environment(const ChildOptions& options) {
    std::map<std::string, std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
        const std::string entry(*e);
        const std::size_t eq = entry.find('=');
        if (eq != std::string::npos) {
            env[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
    }
    // The debug log stays off unless a test switches it on.
    env.erase("FLASHWRIGHT_DEBUG_LOG");
    for (const auto& [name, value] : options.environment) {
        env[name] = value;
    }
    std::vector<std::string> list;
    for (const auto& [name, value] : env) {
        list.push_back(name + "=" + value);
    }
    return list;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> p;
    for (std::string& s : strings) {
        p.push_back(s.data());
    }
    p.push_back(nullptr);
    return p;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void Drain(int fd, std::string& into) {
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) {
            return;
        }
        into.append(buffer, static_cast<std::size_t>(got));
    }
}

// A pseudo-terminal's master side, non-blocking; `name` gets the path of its other side.
int OpenTerminal(std::string& name) {
    const int fd = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    if (::grantpt(fd) != 0 || ::unlockpt(fd) != 0) {
        ::close(fd);
        return -1;
    }
    name = ::ptsname(fd);
    ::fcntl(fd, F_SETFL, O_NONBLOCK);
    return fd;
}

}  // namespace

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options) {
    TempDir dir;
    const std::string outPath = (dir.Path() / "stdout").string();
    const std::string errPath = (dir.Path() / "stderr").string();

    std::string terminal = options.stderrTerminal;
    const Fd master(options.stderrOnTerminal ? OpenTerminal(terminal) : -1);
    if (options.stderrOnTerminal && master.get() < 0) {
        return {};
    }

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    if (!terminal.empty()) {
        posix_spawn_file_actions_addopen(&actions, 2, terminal.c_str(), O_RDWR | O_NOCTTY, 0);
    } else {
        posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
    }
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = Environment(options);
    std::vector<char*> argvP = Pointers(argv);
    std::vector<char*> envpP = Pointers(envp);

    // Ctrl-C takes its default course in the child, even when the test runs with it ignored.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t interrupt;
    sigemptyset(&interrupt);
    sigaddset(&interrupt, SIGINT);
    posix_spawnattr_setsigdefault(&attributes, &interrupt);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);

    const auto start = std::chrono::steady_clock::now();
    pid_t pid = -1;
    const int spawned =
        ::posix_spawn(&pid, program.c_str(), &actions, &attributes, argvP.data(), envpP.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ChildResult result;
    if (spawned != 0) {
        return result;
    }

    int wstatus = 0;
    std::optional<std::chrono::steady_clock::time_point> interruptedAt;
    for (;;) {
        if (master.get() >= 0) {
            pollfd pfd{master.get(), POLLIN, 0};
            ::poll(&pfd, 1, 10);
            Drain(master.get(), result.err);
        } else {
            ::usleep(5000);
        }
        if (::waitpid(pid, &wstatus, WNOHANG) == pid) {
            break;
        }
        if (!interruptedAt && options.interruptWhen && options.interruptWhen()) {
            ::kill(pid, SIGINT);
            interruptedAt = std::chrono::steady_clock::now();
        }
        if (std::chrono::steady_clock::now() - start > options.limit) {
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &wstatus, 0);
            result.killed = true;
            break;
        }
    }
    const auto end = std::chrono::steady_clock::now();
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(end - start);
    if (interruptedAt) {
        result.sinceInterrupt =
            std::chrono::duration_cast<std::chrono::milliseconds>(end - *interruptedAt);
    }
    if (master.get() >= 0) {
        Drain(master.get(), result.err);
    } else {
        result.err = ReadAll(errPath);
    }
    result.out = ReadAll(outPath);
    result.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    return result;
}

BackgroundChild::BackgroundChild(const std::string& program, const std::vector<std::string>& args,
                                 const ChildOptions& options) {
    int ends[2] = {-1, -1};
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        return;
    }
    output_.Reset(ends[0]);
    const UniqueFd writeEnd(ends[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), 1);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.Get(), 2);
    std::vector<std::string> argv{program};
    argv.insert(argv.end(), args.begin(), args.end());
    std::vector<std::string> envp = Environment(options);
    std::vector<char*> argvP = Pointers(argv);
    std::vector<char*> envpP = Pointers(envp);
    if (::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argvP.data(), envpP.data()) != 0) {
        pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
}

BackgroundChild::~BackgroundChild() {
    Kill();
}

std::optional<std::string> BackgroundChild::WaitForLine(std::string_view text,
                                                        std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    for (;;) {
        for (std::size_t newline; (newline = pending_.find('\n')) != std::string::npos;) {
            std::string line = pending_.substr(0, newline);
            pending_.erase(0, newline + 1);
            if (line.find(text) != std::string::npos) {
                return line;
            }
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            end - std::chrono::steady_clock::now());
        pollfd pfd{output_.Get(), POLLIN, 0};
        if (!output_.Valid() || left.count() <= 0 ||
            ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) {
            return std::nullopt;
        }
        char buffer[1024];
        const ssize_t got = ::read(output_.Get(), buffer, sizeof buffer);
        if (got <= 0) {
            return std::nullopt;
        }
        pending_.append(buffer, static_cast<std::size_t>(got));
    }
}

void BackgroundChild::Signal(int signal) const {
    if (pid_ > 0) {
        ::kill(pid_, signal);
    }
}

int BackgroundChild::Wait() {
    int status = 0;
    if (pid_ <= 0 || ::waitpid(std::exchange(pid_, -1), &status, 0) < 0) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void BackgroundChild::Kill() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}
