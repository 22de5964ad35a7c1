#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "records/attempt_record.h"
#include "records/plant_forwarder.h"
#include "records/record_store.h"

// The records target of a front end: `given` (a --records value) when there is one, otherwise
// the settings file's records/url; empty when neither. `warning` is set when `given` carries a
// password, which every user of the computer can read in the process list.
std::string RecordsTarget(const std::string& given, std::string& warning);

// Where a front end writes its attempts: a local SQLite store, and when the target is a plant
// database URL, the default local store with its attempts forwarded to the plant database.
// Every attempt is in the local store first, so a plant database that is away loses nothing.
class AttemptRecords final : public AttemptLog {
  public:
    // Opens the target: an SQLite path, or a plant database URL (then `localPath`, or the
    // default local store when it is empty, is written first). Nothing, with `error` set, when
    // the local store cannot be written, the plant database refused the login or its URL is
    // wrong. A plant database that is unreachable is not an error: `notice` then says so.
    static std::unique_ptr<AttemptRecords> Open(const std::string& target, StoreError& error,
                                                std::string& notice,
                                                const std::string& localPath = {},
                                                std::chrono::milliseconds retry = kPlantRetry);
    ~AttemptRecords() override;

    std::optional<std::int64_t> Begin(const AttemptRecord& record) override;
    bool Complete(std::int64_t id, const AttemptRecord& record) override;

    // The hook's outcome of the attempt `uuid`, stored with its record and forwarded again.
    bool SetHook(const std::string& uuid, const std::string& hook);
    // The lot's tally from the local store, where every attempt is written first.
    std::optional<LotTally> Tally(const std::string& lot) { return store_->Tally(lot); }

    // The local store's path.
    const std::string& Path() const { return store_->Path(); }
    // The plant database's forwarder; none without a plant database.
    PlantForwarder* Plant() { return forwarder_.get(); }
    // Ends the forwarding after waiting up to `limit` for what waits to reach the plant
    // database. The count still waiting (0 without a plant database), and in `notice` what the
    // operator should know of them.
    std::int64_t Finish(std::string& notice, std::chrono::milliseconds limit = kPlantDrain);
    // The count of ended attempts not yet in the plant database (0 without one), read from the
    // local store, and in `notice` what the operator should know of them. Any thread.
    std::int64_t Unsent(std::string& notice);

  private:
    AttemptRecords(std::unique_ptr<RecordStore> store);
    std::unique_ptr<RecordStore> store_;
    std::unique_ptr<PlantForwarder> forwarder_;
    std::string plant_;  // the plant database's URL without the password; empty without one
};
