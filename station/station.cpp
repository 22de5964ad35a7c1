#include "station/station.h"

#include <algorithm>
#include <csignal>
#include <cstring>

#include "log/text_format.h"
#include "records/record_schema.h"
#include "records/recording_observer.h"
#include "records/store_status.h"
#include "records/utc_time.h"

namespace {

// Passes every call on to the front end's observer of an attempt, but answers Cancelled and
// StopRequested from the station once it cancels its attempts, and never offers to guide a
// replug: nobody stands at a station's keyboard to follow it.
class StationGate final : public UpdateObserver {
  public:
    StationGate(UpdateObserver& shown, const std::atomic<bool>& cancelled)
        : shown_(shown), cancelled_(cancelled) {}

    void ShowState(StateKind kind, std::string_view caption, std::string_view text) override {
        shown_.ShowState(kind, caption, text);
    }
    void HideState() override { shown_.HideState(); }
    bool Cancelled() override { return cancelled_ || shown_.Cancelled(); }
    bool StopRequested() override { return cancelled_ || shown_.StopRequested(); }
    void Busy(bool on) override { shown_.Busy(on); }
    void WaitingForBootloader(std::uint64_t elapsedMs) override {
        shown_.WaitingForBootloader(elapsedMs);
    }
    void Synchronised(const BootloaderInfo& info) override { shown_.Synchronised(info); }
    ProgressSink* TransferStarting(std::size_t imageBytes) override {
        return shown_.TransferStarting(imageBytes);
    }
    void Finished(std::string_view verdict, int exitCode) override {
        shown_.Finished(verdict, exitCode);
    }

  private:
    UpdateObserver& shown_;
    const std::atomic<bool>& cancelled_;
};

std::string InterruptedMessage(int signal) {
    return StrPrintf("Error: interrupted by SIG%s!", ::sigabbrev_np(signal));
}

// An update still inside a link call when the station ended after its second stop.
std::string AbandonedMessage(int signal) {
    return InterruptedMessage(signal) +
           " The update did not reach a frame boundary and was left in its link.";
}

}  // namespace

struct Station::Attempt {
    std::int64_t id = 0;
    std::string device;
    AttemptRecord record;
    bool completed = false;  // by Cancel, before its thread got there
};

Station::Station(StationSession session, AttemptLog& records, StationView& view,
                 StationUpdate update)
    : session_(std::move(session)), records_(records), view_(view), update_(std::move(update)) {}

Station::~Station() {
    std::vector<AttemptThread> threads;
    {
        const std::lock_guard hold(mutex_);
        threads.swap(threads_);
    }
}  // every attempt's thread has ended

void Station::BusListing(const std::vector<StationDevice>& present,
                         const std::set<std::string>& removed) {
    const std::lock_guard hold(mutex_);
    std::set<std::string> now;
    for (const StationDevice& d : present) {
        now.insert(d.id);
    }
    // A device whose attempt still runs has not left yet: its own replug belongs to the update.
    now.insert(running_.begin(), running_.end());
    for (const std::string& id : present_) {
        if (now.count(id) == 0 || (removed.count(id) != 0 && running_.count(id) == 0)) {
            visited_.erase(id);
            view_.Left(id);
        }
    }
    present_ = now;
    for (const StationDevice& d : present) {
        if (stopping_ || visited_.count(d.id) != 0) {
            continue;
        }
        visited_.insert(d.id);
        view_.Arrived(d.id);
        std::erase_if(threads_, [](const AttemptThread& t) { return t.ended->load(); });
        auto ended = std::make_shared<std::atomic<bool>>(false);
        threads_.push_back({ended, std::jthread([this, d, ended] {
                                RunAttempt(d);
                                *ended = true;
                            })});
    }
}

bool Station::RunAttempt(const StationDevice& device) {
    if (stopping_) {
        return false;
    }
    Attempt attempt;
    attempt.device = device.id;
    AttemptRecord& r = attempt.record;
    r.station = session_.station;
    r.operatorName = session_.operatorName;
    r.link = session_.link;
    r.device = device.id;
    r.description = device.description;
    r.fileName = session_.fileName;
    r.fileSize = session_.fileSize;
    r.fileSha256 = session_.fileSha256;
    r.job = session_.job;
    r.jobSha256 = session_.jobSha256;
    r.lot = session_.lot;
    r.uuid = NewAttemptUuid();  // known before the record is written, for the job's hook
    {
        std::unique_lock hold(mutex_);
        mayBeginChanged_.wait(hold, [&] { return stopping_ || !mayBegin_ || mayBegin_(started_); });
        if (stopping_) {
            return false;
        }
        r.startedUtc = UtcNow();
        const std::optional<std::int64_t> id = records_.Begin(r);
        if (!id) {
            RecordsFailed();
            return false;
        }
        attempt.id = *id;
        attempts_.push_back(&attempt);
        running_.insert(device.id);
        ++started_;
    }
    ++active_;
    const std::unique_ptr<UpdateObserver> shown = view_.Attempt(device.id);
    StationGate gate(*shown, cancelled_);
    // Abandon may record the attempt as interrupted from another thread while it runs.
    RecordingObserver recording(gate, r, &mutex_);
    const UpdateOutcome outcome = update_(device, recording);
    // An update the second stop ended is recorded and shown as interrupted now that it has ended,
    // with the frames it really sent; one that ended by itself meanwhile keeps its own outcome.
    const bool interrupted = cancelled_ && outcome.exitCode != 0;
    const int exitCode = interrupted ? 128 + cancelSignal_ : outcome.exitCode;
    const bool needsReplug = !interrupted && outcome.needsReplug;
    const std::string message = interrupted   ? InterruptedMessage(cancelSignal_)
                                : needsReplug ? std::string(kNeedsReplugText) + outcome.verdict
                                              : outcome.verdict;
    recording.Finished(message, exitCode);
    Finish(attempt, exitCode, message,
           interrupted ? AttemptState::Interrupted : AttemptState::Finished, needsReplug);
    --active_;
    if (onEnded_) {
        onEnded_();
    }
    {
        // Only now: what decides whether another may begin has counted this attempt's end.
        const std::lock_guard hold(mutex_);
        --started_;
    }
    mayBeginChanged_.notify_all();
    return true;
}

void Station::Finish(Attempt& attempt, int exitCode, const std::string& message, AttemptState state,
                     bool needsReplug) {
    const std::lock_guard hold(mutex_);
    FinishLocked(attempt, exitCode, message, state, needsReplug);
}

void Station::FinishLocked(Attempt& attempt, int exitCode, const std::string& message,
                           AttemptState state, bool needsReplug) {
    std::erase(attempts_, &attempt);
    running_.erase(attempt.device);
    if (attempt.completed) {
        return;
    }
    attempt.completed = true;
    AttemptRecord& r = attempt.record;
    r.endedUtc = UtcNow();
    r.resultCode = exitCode;
    r.message = message;
    r.state = state;
    if (!records_.Complete(attempt.id, r)) {
        RecordsFailed();
    } else if (onRecorded_) {
        onRecorded_(attempt.id, r);
    }
    const int tries = ++triesPerDevice_[attempt.device];
    if (tries == 1) {
        ++tally_.devices;
    }
    if (exitCode == 0) {
        ++tally_.passed;
        tally_.firstPass += tries == 1 ? 1 : 0;
    } else {
        ++tally_.failed;
        exitCode_ = exitCode;
    }
    view_.Result(attempt.device, exitCode, message, needsReplug);
    view_.Tally(tally_);
}

void Station::StopTaking() {
    {
        // Under the lock, so that a device waiting to begin cannot miss it.
        const std::lock_guard hold(mutex_);
        stopping_ = true;
    }
    mayBeginChanged_.notify_all();
}

void Station::Cancel(int signal) {
    cancelSignal_ = signal;
    StopTaking();
    // The running updates see it at their next frame boundary and end there; each attempt is
    // recorded by its own thread once its update has returned, so the record counts every frame
    // that went out.
    cancelled_ = true;
}

void Station::Abandon() {
    const int signal = cancelSignal_;
    {
        // An attempt leaves the list under the lock before its thread lets go of it.
        const std::lock_guard hold(mutex_);
        const std::vector<Attempt*> running = attempts_;
        for (Attempt* attempt : running) {
            FinishLocked(*attempt, 128 + signal, AbandonedMessage(signal),
                         AttemptState::Interrupted);
        }
    }
    view_.Interrupted(signal);
}

int Station::Running() const {
    return active_;
}

int Station::ExitCode() const {
    const std::lock_guard hold(mutex_);
    // No update runs without its record: a session that could not record ends failed, whatever
    // its devices did.
    return recordsFailed_ ? kExitRecordsUnwritable : exitCode_;
}

void Station::RecordsFailed() {
    stopping_ = true;
    mayBeginChanged_.notify_all();
    recordsFailed_ = true;
    view_.Problem(std::string(kRecordsUnwritableProblem));
    view_.StoppedTaking(true);
}
