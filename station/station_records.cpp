#include "station/station_records.h"

std::unique_ptr<AttemptLog> OpenStationRecords(const std::string&, std::string&) {
    return std::make_unique<InMemoryAttemptLog>();
}

std::optional<std::int64_t> InMemoryAttemptLog::Begin(const AttemptRecord& record) {
    const std::lock_guard hold(mutex_);
    if (records_.size() >= failFrom_) {
        return std::nullopt;
    }
    records_.push_back(record);
    return static_cast<std::int64_t>(records_.size());
}

bool InMemoryAttemptLog::Complete(std::int64_t id, const AttemptRecord& record) {
    const std::lock_guard hold(mutex_);
    if (id < 1 || static_cast<std::size_t>(id) > records_.size()) {
        return false;
    }
    records_[static_cast<std::size_t>(id) - 1] = record;
    return true;
}

std::vector<AttemptRecord> InMemoryAttemptLog::Records() const {
    const std::lock_guard hold(mutex_);
    return records_;
}

void InMemoryAttemptLog::FailFrom(std::size_t count) {
    const std::lock_guard hold(mutex_);
    failFrom_ = count;
}
