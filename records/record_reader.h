#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "records/attempt_record.h"
#include "records/store_status.h"

class PlantConnection;
class QSqlDatabase;
class QSqlError;
class SqlConnection;

// Which records to read; an empty field does not filter.
struct RecordFilter {
    std::string since = {};         // "YYYY-MM-DD": attempts started on that UTC day or later
    std::string device = {};        // exactly this device
    std::string sha256Prefix = {};  // hexadecimal, any case: files whose SHA-256 starts so
    std::string station = {};       // exactly this station
    std::string lot = {};           // exactly this production lot
};

// What the summary counts per: UTC day and file (the default), or production lot.
enum class SummaryBy { DayAndFile, Lot };

// The attempts of one UTC day with one file, or of one lot. Passed are the attempts that ended with
// code 0; failed those that ended otherwise (a stored code that is not a number included) or were
// interrupted; attempts still running are neither.
struct SummaryRow {
    std::string day;  // "YYYY-MM-DD"
    std::string fileSha256;
    std::int64_t attempts = 0;
    std::int64_t passed = 0;
    std::int64_t failed = 0;
    std::int64_t devices = 0;           // distinct devices (link and device)
    std::int64_t firstPassDevices = 0;  // of them, those whose first attempt here passed
    std::string lot = {};               // by lot only; empty for the attempts of no lot
    double FirstPassYield() const {
        return devices == 0 ? 0.0 : static_cast<double>(firstPassDevices) / devices;
    }
};

// A records database opened for reading only: nothing is written to the database, and no
// write-ahead log or index file is made beside a database that has none. Reading works beside
// a program writing the database. Use it on one thread.
class RecordReader {
  public:
    // `path` is an SQLite file or a plant database URL (read in a read-only session).
    static std::unique_ptr<RecordReader> Open(const std::string& path, StoreError& error);
    ~RecordReader();
    RecordReader(const RecordReader&) = delete;
    RecordReader& operator=(const RecordReader&) = delete;

    // Calls `reads` in one read transaction: every query in it sees the same records, even
    // while a program writes the database. Its error, or the transaction's.
    StoreError Consistently(const std::function<StoreError()>& reads);
    // Calls `each` with every record the filter lets through (with its id), oldest first.
    StoreError ForEach(const RecordFilter& filter,
                       const std::function<void(std::int64_t id, const AttemptRecord&)>& each);
    // The counts per UTC day and file, in that order, or per lot.
    StoreError Summary(const RecordFilter& filter, std::vector<SummaryRow>& rows,
                       SummaryBy by = SummaryBy::DayAndFile);

  private:
    RecordReader(std::string path, std::unique_ptr<SqlConnection> connection,
                 std::unique_ptr<PlantConnection> plant);
    QSqlDatabase& Db();
    StoreError Failed(const QSqlError& error) const;

    const std::string path_;
    std::unique_ptr<SqlConnection> connection_;  // an SQLite file
    std::unique_ptr<PlantConnection> plant_;     // or a plant database
    int layout_ = 0;                             // the layout version read
};
