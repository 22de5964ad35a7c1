#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "engine/progress_sink.h"
#include "engine/protocol.h"

// The range an update reports its progress in, and what a position is in per cent of it.
class ProgressScale {
  public:
    void SetRange(int low, int high) {
        low_ = low;
        high_ = high > low ? high : low + 1;
    }
    int Percent(int position) const { return (position - low_) * 100 / (high_ - low_); }

  private:
    int low_ = 0;
    int high_ = 100;
};

// What a windowless update tells its front end while it runs. Every call may do nothing.
class UpdateObserver {
  public:
    virtual ~UpdateObserver() = default;
    // The update keeps trying to synchronise; called after every failed attempt.
    virtual void WaitingForBootloader(std::uint64_t elapsedMs) = 0;
    virtual void Synchronised(const BootloaderInfo& info) = 0;
    // The transfer of an image of imageBytes bytes begins; returns where its progress goes
    // (none: the update operation reports no progress).
    virtual ProgressSink* TransferStarting(std::size_t imageBytes) = 0;
    // The outcome: the final message and the exit code.
    virtual void Finished(std::string_view verdict, int exitCode) = 0;
};
