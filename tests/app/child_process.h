#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "log/unique_fd.h"

// Runs a program as a child process, as a script or a terminal user would, and collects what
// it printed and how it ended.
struct ChildOptions {
    // Added to (or replacing in) the test's own environment.
    std::vector<std::pair<std::string, std::string>> environment;
    // Standard error goes to a pseudo-terminal instead of a file.
    bool stderrOnTerminal = false;
    // Standard error goes to this terminal, which the test holds (and may never read).
    std::string stderrTerminal;
    // The child is killed when it runs longer (a hung update must not hang the suite).
    std::chrono::seconds limit{60};
    // Polled while the child runs: when it first holds, the child gets SIGINT (Ctrl-C).
    std::function<bool()> interruptWhen;
};

struct ChildResult {
    int status = -1;  // exit status 0..255, or -1 when it did not exit normally
    bool killed = false;
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
    std::optional<std::chrono::milliseconds> sinceInterrupt;  // from the SIGINT to the end
};

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options = {});

// A program left running beside the test (a simulator in a process of its own, to be killed),
// its standard output and error read as they come. Killed at the latest when this ends.
class BackgroundChild {
  public:
    BackgroundChild(const std::string& program, const std::vector<std::string>& args,
                    const ChildOptions& options = {});
    ~BackgroundChild();
    BackgroundChild(const BackgroundChild&) = delete;
    BackgroundChild& operator=(const BackgroundChild&) = delete;

    // Reads the output until a line holds `text`; that line, or nothing when the output ended
    // or `limit` passed first.
    std::optional<std::string> WaitForLine(std::string_view text, std::chrono::milliseconds limit);
    // Ends the program with SIGKILL, as a crash or a pulled plug would.
    void Kill();
    // Sends the program a signal, as Ctrl-C (SIGINT) or a supervisor (SIGTERM) would.
    void Signal(int signal) const;
    // Waits for the program's end: its exit status 0..255, or -1 when it did not exit.
    int Wait();

  private:
    pid_t pid_ = -1;
    UniqueFd output_;
    std::string pending_;  // read, not yet a whole line
};

// The exit status a shell sees for the program's exit code.
constexpr int ExitStatus(int code) {
    return code & 0xFF;
}
