#include "station/job_rules.h"

#include "log/text_format.h"

std::string LotProgress::Text() const {
    return size ? StrPrintf("lot %lld of %lld", static_cast<long long>(passed),
                            static_cast<long long>(*size))
                : StrPrintf("lot %lld passed", static_cast<long long>(passed));
}

std::optional<JobStop> JudgeLot(const Job& job, const LotTally& tally) {
    if (job.lotSize && tally.passed >= *job.lotSize) {
        return JobStop{
            "lot-full",
            StrPrintf("the lot is full: %lld of %lld passed", static_cast<long long>(tally.passed),
                      static_cast<long long>(*job.lotSize)),
            false};
    }
    if (job.stopAfterFailuresInARow && tally.failuresInARow >= *job.stopAfterFailuresInARow) {
        return JobStop{"failures-in-a-row",
                       StrPrintf("%lld failures in a row (the job stops at %lld)",
                                 static_cast<long long>(tally.failuresInARow),
                                 static_cast<long long>(*job.stopAfterFailuresInARow)),
                       true};
    }
    if (job.stopBelowYield && tally.devices >= job.stopBelowYield->after &&
        tally.FirstPassYield() * 100.0 < job.stopBelowYield->percent) {
        return JobStop{"yield",
                       StrPrintf("first-pass yield %.1f %% after %lld devices (the job stops "
                                 "below %g %% after %lld)",
                                 tally.FirstPassYield() * 100.0,
                                 static_cast<long long>(tally.devices), job.stopBelowYield->percent,
                                 static_cast<long long>(job.stopBelowYield->after)),
                       true};
    }
    return std::nullopt;
}

std::optional<JobStop> JudgeHook(const Job& job, const std::string& outcome, bool succeeded) {
    if (succeeded || !job.stopOnHookFailure) {
        return std::nullopt;
    }
    return JobStop{"hook-failure", "the hook failed: " + outcome + " (stop_on_hook_failure)", true};
}
