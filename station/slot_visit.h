#pragma once

#include <cstdint>

// A fixture slot is free again once its bootloader has not answered for this long: the device
// was taken away or restarted into its application.
inline constexpr std::uint64_t kSlotFreeAfterSilenceMs = 3000;

// Whether a slot holds a device, from the answers to its synchronisation attempts: the first
// answer begins a visit; the visit ends after kSlotFreeAfterSilenceMs without one.
class SlotVisit {
  public:
    // The bootloader answered at `nowMs`; true when this begins a visit.
    bool Answered(std::uint64_t nowMs);
    // An attempt went unanswered at `nowMs`; true when this ends the visit.
    bool Silent(std::uint64_t nowMs);
    bool Held() const { return held_; }

  private:
    bool held_ = false;
    std::uint64_t lastAnswerMs_ = 0;
};
