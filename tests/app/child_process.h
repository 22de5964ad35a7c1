#pragma once

#include <chrono>
#include <string>
#include <utility>
#include <vector>

// Runs a program as a child process, as a script or a terminal user would, and collects what
// it printed and how it ended.
struct ChildOptions {
    // Added to (or replacing in) the test's own environment.
    std::vector<std::pair<std::string, std::string>> environment;
    // Standard error goes to a pseudo-terminal instead of a file.
    bool stderrOnTerminal = false;
    // The child is killed when it runs longer (a hung update must not hang the suite).
    std::chrono::seconds limit{60};
};

struct ChildResult {
    int status = -1;  // exit status 0..255, or -1 when it did not exit normally
    bool killed = false;
    std::string out;
    std::string err;
    std::chrono::milliseconds elapsed{0};
};

ChildResult RunChild(const std::string& program, const std::vector<std::string>& args,
                     const ChildOptions& options = {});

// The exit status a shell sees for the program's exit code.
constexpr int ExitStatus(int code) {
    return code & 0xFF;
}
