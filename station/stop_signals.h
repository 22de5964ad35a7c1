#pragma once

#include <csignal>

#include "log/unique_fd.h"

// SIGINT, SIGTERM and SIGHUP (a closed terminal: stopped as a supervisor's SIGTERM stops) read
// from a pipe while this lives, instead of ending the program, whichever thread the kernel hands
// them to; the earlier handling comes back when it ends. One at a time.
class StopSignals {
  public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // Readable when a signal came.
    int Fd() const { return read_.Get(); }
    // The signal waiting, or 0.
    int Take();
    // Delivers `signal` as if the kernel had: a window's stop buttons stop as Ctrl-C does.
    void Raise(int signal);

  private:
    UniqueFd read_;
    UniqueFd write_;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
    struct sigaction oldHup_ {};
};
