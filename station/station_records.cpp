#include "station/station_records.h"

std::unique_ptr<AttemptRecords> OpenStationRecords(const std::string& records, std::string& error,
                                                   std::string& notices, int& status) {
    std::string warning;
    std::string target = RecordsTarget(records, warning);
    if (target.empty()) {
        target = DefaultRecordsPath();
    }
    StoreError failure;
    std::string notice;
    std::unique_ptr<AttemptRecords> store = AttemptRecords::Open(target, failure, notice);
    if (!store) {
        error = failure.message;
        status = ExitStatusOf(failure.status);
    }
    for (const std::string& line : {warning, notice}) {
        notices += line.empty() ? "" : line + "\n";
    }
    return store;
}
