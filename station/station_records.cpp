#include "station/station_records.h"

#include "records/record_store.h"

std::unique_ptr<AttemptLog> OpenStationRecords(const std::string& path, std::string& error,
                                               int& status) {
    StoreError failure;
    std::unique_ptr<RecordStore> store =
        RecordStore::Open(path.empty() ? DefaultRecordsPath() : path, failure);
    if (!store) {
        error = failure.message;
        status = ExitStatusOf(failure.status);
    }
    return store;
}
