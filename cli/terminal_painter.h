#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "log/unique_fd.h"

// Draws the frames of a live display on a terminal from a thread of its own, so a terminal
// that does not drain (paused with Ctrl-S, or never read) never holds up whoever changes what
// is shown: its writes cannot block, no new frame is made while one is still waiting for the
// terminal, and the latest state is drawn once the terminal takes it.
class TerminalPainter {
  public:
    // Draws on the terminal open as `terminal` (which stays the caller's) what `render` makes
    // for the state of the moment; nothing when the terminal cannot be opened for writes that
    // do not block.
    TerminalPainter(int terminal, std::function<std::string()> render);
    ~TerminalPainter();
    TerminalPainter(const TerminalPainter&) = delete;
    TerminalPainter& operator=(const TerminalPainter&) = delete;

    // What is shown changed: a frame of the new state is drawn as soon as the terminal allows.
    void Request();
    // Draws the latest state and waits until the terminal has taken it, at most `limit`; false
    // when it did not.
    bool Flush(std::chrono::milliseconds limit);
    // Flushes, then draws no more: what is written on the terminal afterwards stays as it is.
    void Finish(std::chrono::milliseconds limit);

  private:
    void Run(const std::stop_token& stop);
    // Writes the whole frame as the terminal drains; false when the terminal failed or the
    // painter stops first.
    bool Write(std::string_view frame, const std::stop_token& stop);

    UniqueFd terminal_;
    std::function<std::string()> render_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::uint64_t requested_ = 0;  // changes asked for so far
    std::uint64_t drawn_ = 0;      // changes the terminal has taken
    bool ended_ = false;           // finished, or the terminal failed: nothing more is drawn
    std::jthread thread_;          // last: it ends before what it uses goes
};
