#pragma once

#include <optional>
#include <string>

#include "job/job_file.h"
#include "records/lot_tally.h"

// The station's exit status when a stop rule of its job fired (a full lot ends with 0).
inline constexpr int kExitStopRule = 3;

// A job's lot as the views show it: "lot 312 of 500".
struct LotProgress {
    std::string job;
    std::string lot;
    std::int64_t passed = 0;
    std::optional<std::int64_t> size;
    std::string Text() const;
};

// Why a station stops taking devices by its job: the lot is full, or a stop rule fired.
struct JobStop {
    std::string rule;    // "lot-full", "failures-in-a-row", "yield", "hook-failure"
    std::string reason;  // with its figures: "5 failures in a row (the job stops at 5)"
    bool fired = false;  // a stop rule, not a full lot: the station ends with kExitStopRule
};

// What the job's lot and stop rules say of the lot's tally; nothing while the station goes on.
std::optional<JobStop> JudgeLot(const Job& job, const LotTally& tally);
// A hook that failed stops the station only when the job says so.
std::optional<JobStop> JudgeHook(const Job& job, const std::string& outcome, bool succeeded);
