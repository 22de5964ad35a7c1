#pragma once

#include <cstdint>
#include <vector>

#include "engine/clock.h"

// Time that passes only when the code under test waits: time-outs run instantly, and every
// wait is recorded with its kind so tests can check the protocol's timings.
class VirtualClock final : public Clock {
  public:
    struct WaitRecord {
        bool pump = false;
        unsigned ms = 0;
        std::uint64_t at = 0;
    };

    std::uint64_t NowMs() override { return now_; }
    void Sleep(unsigned ms) override { Record(false, ms); }
    void PumpWait(unsigned ms) override { Record(true, ms); }

    void Advance(unsigned ms) { now_ += ms; }
    const std::vector<WaitRecord>& Waits() const { return waits_; }
    void ClearWaits() { waits_.clear(); }

  private:
    void Record(bool pump, unsigned ms) {
        waits_.push_back({pump, ms, now_});
        now_ += ms;
    }

    std::uint64_t now_ = 100000;
    std::vector<WaitRecord> waits_;
};
