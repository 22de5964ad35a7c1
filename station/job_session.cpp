#include "station/job_session.h"

#include "records/record_json.h"
#include "update/expected_device.h"

namespace {

std::function<std::optional<std::string>(const BootloaderInfo&)> ExpectOf(const Job& job) {
    ExpectedDevice expected;
    if (job.deviceId) {
        expected.deviceId = *job.deviceId;
    }
    expected.bootloaderMin = job.bootloaderMin;
    return ExpectDevicePredicate(expected);
}

}  // namespace

JobSession::JobSession(std::shared_ptr<const Job> job, AttemptRecords& records, LogSink& log)
    : job_(std::move(job)), records_(records), expect_(ExpectOf(*job_)) {
    if (!job_->hookArgv.empty()) {
        hooks_ = std::make_unique<ResultHooks>(log);
    }
}

JobSession::~JobSession() {
    Finish();
}

void JobSession::FillSession(StationSession& session) const {
    session.job = job_->name;
    session.jobSha256 = job_->sha256;
    session.lot = job_->lotId.value_or("");
}

std::optional<JobStop> JobSession::Start(StationView& view,
                                         std::function<void(const JobStop&)> stop) {
    view_ = &view;
    stop_ = std::move(stop);
    if (!job_->lotId) {
        return std::nullopt;
    }
    const std::optional<LotTally> tally = records_.Tally(*job_->lotId);
    const LotTally counted = tally.value_or(LotTally{});
    passed_ = counted.passed;
    view.Lot({job_->name, *job_->lotId, counted.passed, job_->lotSize});
    // Only a full lot ends a station at its start: a rule that fired in an earlier session
    // was the reason to look at the fixture, and the operator restarting it has.
    std::optional<JobStop> full = JudgeLot(*job_, counted);
    if (!full || full->fired) {
        return std::nullopt;
    }
    const std::lock_guard hold(mutex_);
    fired_ = full;
    return full;
}

void JobSession::Recorded(std::int64_t id, const AttemptRecord& record) {
    if (record.resultCode == 0) {
        ++passed_;  // counted before the records are read again, should that fail
    }
    if (!hooks_) {
        return;
    }
    HookCall call{job_->hookArgv, RecordJson(id, record),
                  HookEnvironment(record, job_->name, job_->lotId.value_or("")),
                  static_cast<unsigned>(job_->hookTimeoutSeconds.value_or(10))};
    hooks_->Run(std::move(call),
                [this, uuid = record.uuid, device = record.device](const HookOutcome& outcome) {
                    const std::string text = outcome.Text();
                    records_.SetHook(uuid, text);
                    view_->Hook(device, text, outcome.Succeeded());
                    Judge(JudgeHook(*job_, text, outcome.Succeeded()));
                });
}

void JobSession::AttemptEnded() {
    if (!job_->lotId) {
        return;
    }
    const std::optional<LotTally> tally = records_.Tally(*job_->lotId);
    if (!tally) {
        return;  // the records say why
    }
    // Never lower: another attempt's count may have read the records before this one's pass.
    std::int64_t counted = passed_;
    while (counted < tally->passed && !passed_.compare_exchange_weak(counted, tally->passed)) {
    }
    view_->Lot({job_->name, *job_->lotId, tally->passed, job_->lotSize});
    Judge(JudgeLot(*job_, *tally));
}

bool JobSession::MayBegin(int started) const {
    return !job_->lotSize || passed_ + started < *job_->lotSize;
}

void JobSession::Judge(const std::optional<JobStop>& stop) {
    if (!stop) {
        return;
    }
    {
        const std::lock_guard hold(mutex_);
        if (fired_) {
            return;  // the first reason stands
        }
        fired_ = stop;
    }
    view_->Stopped(*stop);
    stop_(*stop);
}

void JobSession::Finish() {
    hooks_.reset();
}

std::optional<JobStop> JobSession::Fired() const {
    const std::lock_guard hold(mutex_);
    return fired_;
}
