#pragma once

#include <prometheus/counter.h>
#include <prometheus/exposer.h>
#include <prometheus/family.h>
#include <prometheus/gauge.h>
#include <prometheus/histogram.h>
#include <prometheus/registry.h>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "engine/clock.h"
#include "station/station.h"
#include "update/metrics_listen.h"

// The metrics endpoint could not be opened (its port is taken, its address is not this
// machine's): the station ends before it serves any device (EX_OSERR).
inline constexpr int kExitMetricsUnavailable = 71;

// The station's figures for a monitoring server that scrapes them over HTTP: one more view of
// the station, counting from the same events the operator's view is told of.
class StationMetrics final : public StationView {
  public:
    // `station`: the label every figure carries (--station's value, empty without it).
    StationMetrics(const StationSession& session, std::string station, std::string_view version,
                   Clock& clock);
    ~StationMetrics() override;

    // Serves the figures at http://`listen`/metrics, read only, from a thread of its own; false
    // with the reason when the address cannot be bound.
    bool Listen(const std::string& listen, std::string& error);

    void Arrived(const std::string& device) override;
    void Left(const std::string& device) override;
    std::unique_ptr<UpdateObserver> Attempt(const std::string& device) override;
    void Result(const std::string& device, int exitCode, const std::string& message,
                bool needsReplug) override;
    void Tally(const StationTally& tally) override;
    void Problem(const std::string& /*text*/) override {}
    void StoppedTaking(bool recordsFailed) override;
    void Plant(const PlantStatus& status) override;
    void Stopped(const JobStop& stop) override;
    void Ended(int exitStatus) override;

  private:
    class AttemptCounter;
    void SetState(std::string_view state);
    void UpdateDeviceGauges();  // under mutex_

    const std::string station_;
    const std::string link_;
    Clock& clock_;
    std::shared_ptr<prometheus::Registry> registry_;
    prometheus::Family<prometheus::Counter>& attempts_;
    prometheus::Histogram& duration_;
    prometheus::Gauge& updating_;
    prometheus::Gauge& waiting_;
    prometheus::Counter& framesSent_;
    prometheus::Counter& frameRetries_;
    prometheus::Family<prometheus::Gauge>& yieldFamily_;
    prometheus::Family<prometheus::Gauge>& failuresInARow_;
    prometheus::Family<prometheus::Gauge>& plantFamily_;
    prometheus::Family<prometheus::Gauge>& plantWaitingFamily_;
    prometheus::Counter& writeErrors_;
    prometheus::Family<prometheus::Gauge>& state_;
    std::unique_ptr<prometheus::Exposer> exposer_;

    std::mutex mutex_;
    std::set<std::string> present_;
    std::map<std::string, std::uint64_t> startedMs_;  // the attempts running, by device
};
