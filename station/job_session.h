#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "job/job_file.h"
#include "log/log_sink.h"
#include "records/attempt_records.h"
#include "station/job_rules.h"
#include "station/result_hook.h"
#include "station/station.h"
#include "update/update_steps.h"

// What a production job adds to a station's session: the device it expects, its lot's
// progress and stop rules counted from the records, and the hook after every attempt.
class JobSession {
  public:
    JobSession(std::shared_ptr<const Job> job, AttemptRecords& records, LogSink& log);
    ~JobSession();
    JobSession(const JobSession&) = delete;
    JobSession& operator=(const JobSession&) = delete;

    // The FrontEnd's check of the device, after synchronisation and before any frame.
    const std::function<std::optional<std::string>(const BootloaderInfo&)>& ExpectDevice() const {
        return expect_;
    }
    // What every record of the job carries.
    void FillSession(StationSession& session) const;

    // From now on: the view told of the lot and hooks, and `stop` called (once) when the lot is
    // full or a rule fires. What the lot's records say at the start, which may stop it at once.
    std::optional<JobStop> Start(StationView& view, std::function<void(const JobStop&)> stop);
    // An attempt's record was written as ended: its hook starts (it never waits for it).
    void Recorded(std::int64_t id, const AttemptRecord& record);
    // An attempt has ended: the lot counted again from the records and the rules judged.
    void AttemptEnded();
    // Whether one more attempt may begin while `started` attempts run: never more than the
    // passes the lot still lacks, so that it cannot end with more passes than its size.
    bool MayBegin(int started) const;
    // Waits for the hooks still running (each until its time-out at most); no hook is started
    // after.
    void Finish();
    // The stop that fired; nothing while none did.
    std::optional<JobStop> Fired() const;

  private:
    void Judge(const std::optional<JobStop>& stop);

    const std::shared_ptr<const Job> job_;
    AttemptRecords& records_;
    const std::function<std::optional<std::string>(const BootloaderInfo&)> expect_;
    StationView* view_ = nullptr;
    std::function<void(const JobStop&)> stop_;
    mutable std::mutex mutex_;
    std::optional<JobStop> fired_;
    std::atomic<std::int64_t> passed_{0};  // the lot's passes at the last count
    std::unique_ptr<ResultHooks> hooks_;   // with a hook; gone after Finish
};
