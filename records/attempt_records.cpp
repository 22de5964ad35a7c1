#include "records/attempt_records.h"

#include <algorithm>

#include "records/database_url.h"
#include "update/settings.h"

std::string RecordsTarget(const std::string& given, std::string& warning) {
    PlantUrl url;
    std::string error;
    if (IsPlantUrl(given) && ParsePlantUrl(given, url, error) && !url.password.empty()) {
        warning =
            "the password in the plant database URL can be read by every user of this computer "
            "in the process list: put it in ~/.pgpass or PGPASSWORD instead";
    }
    if (!given.empty()) {
        return given;
    }
    return SettingsValue("records/url").value_or(std::string());
}

std::unique_ptr<AttemptRecords> AttemptRecords::Open(const std::string& target, StoreError& error,
                                                     std::string& notice,
                                                     const std::string& localPath,
                                                     std::chrono::milliseconds retry) {
    if (std::optional<StoreError> unsupported = UnsupportedDatabaseUrl(target)) {
        error = std::move(*unsupported);  // not a folder named after the scheme
        return nullptr;
    }
    PlantUrl url;
    const bool plant = IsPlantUrl(target);
    if (plant && !ParsePlantUrl(target, url, error.message)) {
        error.status = StoreStatus::Refused;
        return nullptr;
    }
    const std::string path = !plant               ? target
                             : !localPath.empty() ? localPath
                                                  : DefaultRecordsPath();
    std::unique_ptr<RecordStore> store = RecordStore::Open(path, error);
    if (store == nullptr) {
        return nullptr;
    }
    if (plant) {
        store->ForwardTo(url.shown);  // only what is meant for it is sent there
    }
    std::unique_ptr<AttemptRecords> records(new AttemptRecords(std::move(store)));
    if (plant) {
        records->plant_ = url.shown;
        records->forwarder_ = PlantForwarder::Start(*records->store_, url, retry, error);
        if (records->forwarder_ == nullptr) {
            return nullptr;
        }
        if (error.status == StoreStatus::Unreachable) {
            notice =
                error.message + "; the records are kept in " + path + " and sent when it is back";
            error = {};
        }
    }
    return records;
}

AttemptRecords::AttemptRecords(std::unique_ptr<RecordStore> store) : store_(std::move(store)) {}

AttemptRecords::~AttemptRecords() {
    forwarder_.reset();  // before the store it reads
}

std::optional<std::int64_t> AttemptRecords::Begin(const AttemptRecord& record) {
    return store_->Begin(record);
}

bool AttemptRecords::Complete(std::int64_t id, const AttemptRecord& record) {
    const bool written = store_->Complete(id, record);
    if (forwarder_ != nullptr) {
        forwarder_->Wake();
    }
    return written;
}

bool AttemptRecords::SetHook(const std::string& uuid, const std::string& hook) {
    const bool written = store_->SetHook(uuid, hook);
    if (forwarder_ != nullptr) {
        forwarder_->Wake();
    }
    return written;
}

std::int64_t AttemptRecords::Finish(std::string& notice, std::chrono::milliseconds limit) {
    if (forwarder_ == nullptr) {
        return 0;
    }
    // Stopping may wait for a connection under way to complete or fail.
    forwarder_->Drain(std::max(limit - kPlantConnectLimit, std::chrono::milliseconds(0)));
    forwarder_.reset();
    return Unsent(notice);
}

std::int64_t AttemptRecords::Unsent(std::string& notice) {
    if (plant_.empty()) {
        return 0;
    }
    // Counted in the store itself: the forwarder's count may predate its last commit.
    std::vector<RecordStore::Waiting> none;
    std::int64_t left = 0;
    if (!store_->TakeWaiting(plant_, 0, none, left) || left == 0) {
        return left;
    }
    notice = std::to_string(left) + (left == 1 ? " record is" : " records are") +
             " not yet in the plant database " + plant_ + "; " +
             (left == 1 ? "it stays" : "they stay") + " in " + Path() + " and " +
             (left == 1 ? "is" : "are") +
             " sent by the next program that records there with the plant database";
    return left;
}
