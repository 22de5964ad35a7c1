#include "station/station_metrics.h"

#include <algorithm>
#include <chrono>
#include <exception>

#include "update/exit_codes.h"

namespace {

using prometheus::BuildCounter;
using prometheus::BuildGauge;
using prometheus::BuildHistogram;

// Attempts last from a second to ten minutes.
const prometheus::Histogram::BucketBoundaries kDurationBuckets{1,  2,  5,   10,  20,
                                                               30, 60, 120, 300, 600};
// How much of the file's SHA-256 the info metric shows.
constexpr std::size_t kShaPrefixLength = 12;
constexpr std::string_view kStates[] = {"serving", "stopping", "stopped"};
// An exit code above this is 128 + the signal that interrupted the attempt.
constexpr int kSignalExitBase = 128;

// The result of an attempt as the attempts counter names it.
std::string ResultName(int exitCode, bool needsReplug) {
    if (exitCode == 0) {
        return "passed";
    }
    if (needsReplug) {
        return "needs_replug";
    }
    if (exitCode == kExitWrongDevice) {
        return "wrong_device";
    }
    return exitCode > kSignalExitBase ? "interrupted" : "failed";
}

}  // namespace

// Counts the frames an attempt writes and resends.
class StationMetrics::AttemptCounter final : public UpdateObserver, private ProgressSink {
  public:
    explicit AttemptCounter(StationMetrics& metrics) : metrics_(metrics) {}
    ProgressSink* TransferStarting(std::size_t /*imageBytes*/) override { return this; }

  private:
    void SetRange(int /*low*/, int /*high*/) override {}
    void SetPos(int /*position*/) override {}
    void FrameSent(int /*frameNumber*/) override { metrics_.framesSent_.Increment(); }
    void FrameRetried(int /*frameNumber*/, std::uint8_t /*reply*/) override {
        metrics_.frameRetries_.Increment();
    }

    StationMetrics& metrics_;
};

StationMetrics::StationMetrics(const StationSession& session, std::string station,
                               std::string_view version, Clock& clock)
    : station_(std::move(station)),
      link_(session.link),
      clock_(clock),
      registry_(std::make_shared<prometheus::Registry>()),
      attempts_(BuildCounter()
                    .Name("flashwright_attempts_total")
                    .Help("Attempts ended, by link, result and exit code.")
                    .Register(*registry_)),
      duration_(BuildHistogram()
                    .Name("flashwright_attempt_duration_seconds")
                    .Help("How long attempts took.")
                    .Register(*registry_)
                    .Add({{"station", station_}, {"link", link_}}, kDurationBuckets)),
      updating_(BuildGauge()
                    .Name("flashwright_devices_updating")
                    .Help("Attempts running now.")
                    .Register(*registry_)
                    .Add({{"station", station_}})),
      waiting_(BuildGauge()
                   .Name("flashwright_devices_waiting")
                   .Help("Slots or devices present and not being updated.")
                   .Register(*registry_)
                   .Add({{"station", station_}})),
      framesSent_(BuildCounter()
                      .Name("flashwright_frames_sent_total")
                      .Help("Frames written to devices, resent ones included.")
                      .Register(*registry_)
                      .Add({{"station", station_}, {"link", link_}})),
      frameRetries_(BuildCounter()
                        .Name("flashwright_frame_retries_total")
                        .Help("Frames sent again after a missing or bad reply.")
                        .Register(*registry_)
                        .Add({{"station", station_}, {"link", link_}})),
      yieldFamily_(BuildGauge()
                       .Name("flashwright_first_pass_yield_ratio")
                       .Help("Devices of the session that passed on their first attempt, of "
                             "the devices tried.")
                       .Register(*registry_)),
      failuresInARow_(BuildGauge()
                          .Name("flashwright_slot_failures_in_a_row")
                          .Help("Failed attempts of a slot or device since its last pass.")
                          .Register(*registry_)),
      plantFamily_(BuildGauge()
                       .Name("flashwright_plant_database_up")
                       .Help("Whether the plant database the records go to is reachable.")
                       .Register(*registry_)),
      plantWaitingFamily_(BuildGauge()
                              .Name("flashwright_plant_records_waiting")
                              .Help("Ended attempts not yet in the plant database.")
                              .Register(*registry_)),
      writeErrors_(BuildCounter()
                       .Name("flashwright_records_write_errors_total")
                       .Help("Attempt records that could not be written.")
                       .Register(*registry_)
                       .Add({{"station", station_}})),
      state_(BuildGauge()
                 .Name("flashwright_station_state")
                 .Help("The station's state: 1 for the current one.")
                 .Register(*registry_)) {
    BuildGauge()
        .Name("flashwright_station_info")
        .Help("The station's program version, update file, job and lot.")
        .Register(*registry_)
        .Add({{"station", station_},
              {"version", std::string(version)},
              {"file_sha256", session.fileSha256.substr(0, kShaPrefixLength)},
              {"job", session.job},
              {"lot", session.lot}})
        .Set(1);
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    BuildGauge()
        .Name("flashwright_station_start_time_seconds")
        .Help("When the station's session started, in seconds since the Unix epoch.")
        .Register(*registry_)
        .Add({{"station", station_}})
        .Set(std::chrono::duration<double>(now).count());
    SetState("serving");
}

StationMetrics::~StationMetrics() = default;

bool StationMetrics::Listen(const std::string& listen, std::string& error) {
    try {
        exposer_ = std::make_unique<prometheus::Exposer>(listen);
    } catch (const std::exception& failure) {
        error = failure.what();
        return false;
    }
    exposer_->RegisterCollectable(registry_);
    return true;
}

void StationMetrics::Arrived(const std::string& device) {
    const std::lock_guard hold(mutex_);
    present_.insert(device);
    UpdateDeviceGauges();
}

void StationMetrics::Left(const std::string& device) {
    const std::lock_guard hold(mutex_);
    present_.erase(device);
    UpdateDeviceGauges();
}

std::unique_ptr<UpdateObserver> StationMetrics::Attempt(const std::string& device) {
    {
        const std::lock_guard hold(mutex_);
        startedMs_[device] = clock_.NowMs();
        UpdateDeviceGauges();
    }
    return std::make_unique<AttemptCounter>(*this);
}

void StationMetrics::Result(const std::string& device, int exitCode, const std::string& /*message*/,
                            bool needsReplug) {
    const std::string result = ResultName(exitCode, needsReplug);
    attempts_
        .Add({{"station", station_},
              {"link", link_},
              {"result", result},
              {"code", std::to_string(exitCode)}})
        .Increment();
    prometheus::Gauge& inARow = failuresInARow_.Add({{"station", station_}, {"device", device}});
    if (exitCode == 0) {
        inARow.Set(0);
    } else if (result != "interrupted") {  // a stopped station is no fault of the slot
        inARow.Increment();
    }
    const std::lock_guard hold(mutex_);
    if (const auto started = startedMs_.find(device); started != startedMs_.end()) {
        duration_.Observe(static_cast<double>(clock_.NowMs() - started->second) / 1000.0);
        startedMs_.erase(started);
    }
    UpdateDeviceGauges();
}

void StationMetrics::Tally(const StationTally& tally) {
    if (tally.devices > 0) {  // no yield before the first device
        yieldFamily_.Add({{"station", station_}})
            .Set(static_cast<double>(tally.firstPass) / tally.devices);
    }
}

void StationMetrics::StoppedTaking(bool recordsFailed) {
    if (recordsFailed) {
        writeErrors_.Increment();
    }
    SetState("stopping");
}

void StationMetrics::Plant(const PlantStatus& status) {
    plantFamily_.Add({{"station", station_}}).Set(status.connected ? 1 : 0);
    plantWaitingFamily_.Add({{"station", station_}}).Set(static_cast<double>(status.waiting));
}

void StationMetrics::Stopped(const JobStop& /*stop*/) {
    SetState("stopping");
}

void StationMetrics::Ended(int /*exitStatus*/) {
    SetState("stopped");
}

void StationMetrics::SetState(std::string_view state) {
    const std::lock_guard hold(mutex_);  // one current state, whichever thread tells it
    for (const std::string_view name : kStates) {
        state_.Add({{"station", station_}, {"state", std::string(name)}})
            .Set(name == state ? 1 : 0);
    }
}

void StationMetrics::UpdateDeviceGauges() {
    const auto running = static_cast<double>(startedMs_.size());
    updating_.Set(running);
    waiting_.Set(std::max(0.0, static_cast<double>(present_.size()) - running));
}
