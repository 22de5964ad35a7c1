#pragma once

#include <csignal>
#include <thread>

#include "log/unique_fd.h"

class JsonLines;

// While it lives, SIGINT and SIGTERM still end the program as they always did, but first every
// update under way on the JSON Lines gets its result line, so a reader of the events learns
// how each device ended. A signal the program was started to ignore stays ignored.
class JsonInterruptGuard {
  public:
    explicit JsonInterruptGuard(JsonLines& lines);
    ~JsonInterruptGuard();
    JsonInterruptGuard(const JsonInterruptGuard&) = delete;
    JsonInterruptGuard& operator=(const JsonInterruptGuard&) = delete;

  private:
    void Watch();

    JsonLines& lines_;
    UniqueFd readEnd_;
    UniqueFd writeEnd_;
    struct sigaction previousInt_ {};
    struct sigaction previousTerm_ {};
    bool intCaught_ = false;
    bool termCaught_ = false;
    std::thread watcher_;
};
