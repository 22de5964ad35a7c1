#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "records/attempt_record.h"
#include "records/plant_status.h"
#include "records/recording_observer.h"
#include "station/first_pass_yield.h"
#include "station/job_rules.h"
#include "update/update_observer.h"
#include "update/update_steps.h"

// How a recorded message begins when the device needs a replug.
inline constexpr std::string_view kNeedsReplugText = "needs a replug: ";
// The problem a view is told when an attempt's record cannot be written.
inline constexpr std::string_view kRecordsUnwritableProblem =
    "the records cannot be written: no new devices are taken";
// The problem a view is told at the first stop.
inline constexpr std::string_view kStoppingProblem =
    "stopping: no new devices; the running updates end";

// What names a device on its link (serial number or slot address) and what else is known.
struct StationDevice {
    std::string id;
    std::string description;
};

// What every attempt of a session shares in its record.
struct StationSession {
    std::string station;
    std::string operatorName;
    std::string link;
    std::string fileName;
    std::int64_t fileSize = 0;
    std::string fileSha256;
    // The production job's name, its file's SHA-256 and the lot: empty without a job.
    std::string job = {};
    std::string jobSha256 = {};
    std::string lot = {};
};

// The station's counters: attempts passed and failed, and the devices that passed on their
// first attempt out of the devices tried.
struct StationTally {
    int passed = 0;
    int failed = 0;
    int devices = 0;
    int firstPass = 0;
    // The first-pass yield as text ("66.7 %"; "\u2013" before any device was tried).
    std::string YieldText() const { return FirstPassYieldText(firstPass, devices); }
};

// What a front end shows of the station. Any thread may call.
class StationView {
  public:
    virtual ~StationView() = default;
    virtual void Arrived(const std::string& device) = 0;
    virtual void Left(const std::string& device) = 0;
    // The observer that shows one attempt; it lives until the attempt has finished.
    virtual std::unique_ptr<UpdateObserver> Attempt(const std::string& device) = 0;
    // An attempt's outcome as recorded; `needsReplug`: the device must be power-cycled by hand
    // (its message begins with kNeedsReplugText then).
    virtual void Result(const std::string& device, int exitCode, const std::string& message,
                        bool needsReplug) = 0;
    virtual void Tally(const StationTally& tally) = 0;
    // Something the operator must know that is no device's: a vanished bus folder, the records.
    virtual void Problem(const std::string& text) = 0;
    // A problem told before holds no longer (the bus folder is back): a view that keeps its
    // problems drops it, and tells it again should it come back.
    virtual void ProblemCleared(const std::string& /*text*/) {}
    // The attempts still under way when the program ends after a second stop by `signal`: their
    // updates did not end in time and are left.
    virtual void Interrupted(int /*signal*/) {}
    // The plant database the records are forwarded to came or went, or the count of records
    // waiting for it changed. Only when there is one.
    virtual void Plant(const PlantStatus& /*status*/) {}
    // The station takes no new devices from now on, the running attempts ending normally: a
    // first stop, or (`recordsFailed`) an attempt's record that could not be written.
    virtual void StoppedTaking(bool /*recordsFailed*/) {}
    // The job's lot: at the start and after every attempt. Only with a job that names a lot.
    virtual void Lot(const LotProgress& /*lot*/) {}
    // The station stops taking devices because its lot is full or a stop rule of its job fired.
    virtual void Stopped(const JobStop& /*stop*/) {}
    // The job's hook for an attempt of `device` has ended: its outcome ("exit 0", "killed after
    // 10 s (timed out)") and whether it succeeded.
    virtual void Hook(const std::string& /*device*/, const std::string& /*outcome*/,
                      bool /*succeeded*/) {}
    // The station's loop has ended, every attempt with it; `exitStatus` is the station's.
    virtual void Ended(int /*exitStatus*/) {}
};

// The update of one device with the link's full recipe, through the observer that records it
// (which also takes what the update learns of the device); the station calls Finished itself.
using StationUpdate = std::function<UpdateOutcome(const StationDevice&, RecordingObserver&)>;

// Gives every device that arrives one attempt per visit, writes each attempt through the
// AttemptLog (begun before the update runs, completed when it ends) and keeps the outcome.
class Station {
  public:
    Station(StationSession session, AttemptLog& records, StationView& view, StationUpdate update);
    ~Station();  // waits for every attempt's thread
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // The devices now on a bus: one that is new this visit gets its attempt on a thread of its
    // own; one gone since the last call, or `removed` meanwhile, has left (once its attempt has
    // ended).
    void BusListing(const std::vector<StationDevice>& present,
                    const std::set<std::string>& removed = {});
    // Runs the attempt of a device on the calling thread (a slot's own thread); false when none
    // ran because the station stops taking devices.
    bool RunAttempt(const StationDevice& device);

    // The first stop: no new devices; running attempts end normally.
    void StopTaking();
    // The second: running updates are stopped through their observer at their next frame
    // boundary, and their attempts recorded as interrupted by `signal` when they end.
    void Cancel(int signal);
    // The last resort after a second stop, for updates blocked inside a link call that did not
    // end in time: records their attempts as interrupted, saying the update was left running,
    // and tells the view. The program ends right after.
    void Abandon();
    bool Taking() const { return !stopping_; }
    bool Cancelled() const { return cancelled_; }
    // The number of attempts whose update still runs.
    int Running() const;
    // Called (on the attempt's thread) after each attempt has ended.
    void OnAttemptEnded(std::function<void()> call) { onEnded_ = std::move(call); }
    // Whether one more attempt may begin while `started` have begun and not yet ended (their
    // OnAttemptEnded call included): a job's lot that must never take more passes than its size.
    // A device refused waits for a running attempt to end, or for the station to stop taking
    // devices. Called under the station's lock: the call must not wait.
    void LimitAttempts(std::function<bool(int started)> mayBegin) {
        mayBegin_ = std::move(mayBegin);
    }
    // Called with each attempt's record once it is written as ended (under the station's lock:
    // the call must not wait).
    void OnRecorded(std::function<void(std::int64_t id, const AttemptRecord& record)> call) {
        onRecorded_ = std::move(call);
    }

    // 0 when every attempt succeeded, else the exit code of the last one that failed;
    // kExitRecordsUnwritable once a record could not be written.
    int ExitCode() const;

  private:
    struct Attempt;
    void Finish(Attempt& attempt, int exitCode, const std::string& message, AttemptState state,
                bool needsReplug);
    void FinishLocked(Attempt& attempt, int exitCode, const std::string& message,
                      AttemptState state, bool needsReplug = false);
    // A record could not be written: no new devices; called under the lock.
    void RecordsFailed();

    const StationSession session_;
    AttemptLog& records_;
    StationView& view_;
    const StationUpdate update_;
    std::function<void()> onEnded_;
    std::function<bool(int)> mayBegin_;
    std::function<void(std::int64_t, const AttemptRecord&)> onRecorded_;

    mutable std::mutex mutex_;
    std::set<std::string> present_;  // on the bus at the last listing
    std::set<std::string> visited_;  // tried during their present visit
    std::set<std::string> running_;
    std::vector<Attempt*> attempts_;  // those running
    std::map<std::string, int> triesPerDevice_;
    int started_ = 0;                          // begun, their OnAttemptEnded call not yet returned
    std::condition_variable mayBeginChanged_;  // with mutex_: an attempt ended, or stopping_
    StationTally tally_;
    int exitCode_ = 0;
    bool recordsFailed_ = false;
    // The bus attempts' threads; those that ended are joined when the next one starts.
    struct AttemptThread {
        std::shared_ptr<std::atomic<bool>> ended;
        std::jthread thread;
    };
    std::vector<AttemptThread> threads_;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<int> cancelSignal_{0};
    std::atomic<int> active_{0};
};
