#include "station/slot_visit.h"

bool SlotVisit::Answered(std::uint64_t nowMs) {
    lastAnswerMs_ = nowMs;
    const bool begins = !held_;
    held_ = true;
    return begins;
}

bool SlotVisit::Silent(std::uint64_t nowMs) {
    if (held_ && nowMs - lastAnswerMs_ >= kSlotFreeAfterSilenceMs) {
        held_ = false;
        return true;
    }
    return false;
}
