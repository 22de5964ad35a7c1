#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "records/attempt_record.h"

// The attempt log a station writes through, for the records at `path` (empty: the default
// place). Nothing, with `error` set, when the records cannot be opened.
//
// For now this gives an InMemoryAttemptLog: the attempts are kept only while the program runs.
std::unique_ptr<AttemptLog> OpenStationRecords(const std::string& path, std::string& error);

// A placeholder attempt log that keeps the attempts in memory only, nothing on disk; tests look
// at what was written. It can be told to refuse every write from some attempt on.
class InMemoryAttemptLog final : public AttemptLog {
  public:
    std::optional<std::int64_t> Begin(const AttemptRecord& record) override;
    bool Complete(std::int64_t id, const AttemptRecord& record) override;

    std::vector<AttemptRecord> Records() const;
    // Begin refuses from the `count`-th attempt on (0: the first).
    void FailFrom(std::size_t count);

  private:
    mutable std::mutex mutex_;
    std::vector<AttemptRecord> records_;
    std::size_t failFrom_ = static_cast<std::size_t>(-1);
};
