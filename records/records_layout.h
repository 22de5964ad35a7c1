#pragma once

#include <QSqlQuery>
#include <QString>
#include <QVariant>

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "records/attempt_record.h"
#include "records/store_status.h"

// The layout of a records database, described once and written out in each SQL dialect: the
// table schema_version with one row, the layout's version, and the table attempts with a row
// number (id), the columns a store adds before the record's own, and the record's columns.

enum class SqlType { Text, Integer, BigInteger };

struct LayoutColumn {
    std::string_view name;
    SqlType type;
    std::string_view constraint = {};  // as SQL writes it after the type, e.g. "NOT NULL"
};

// An index on one column of attempts; a partial one holds only the rows `where` lets through.
struct LayoutIndex {
    std::string_view name;
    std::string_view column;
    bool unique = false;
    std::string_view where = {};
};

// A layout version: the columns and indexes it adds to the one before, and what sets the new
// columns of the rows there are (before the indexes are made), if anything must.
struct LayoutStep {
    int version;
    std::span<const LayoutColumn> columns;
    std::span<const LayoutIndex> indexes = {};
    bool (*fill)(QSqlQuery& query) = nullptr;
};

// What a dialect calls the row number and the column types.
struct SqlDialect {
    std::string_view rowNumber;
    std::string_view text;
    std::string_view integer;     // 32 bits
    std::string_view bigInteger;  // 64 bits
};

inline constexpr SqlDialect kSqliteDialect{"INTEGER PRIMARY KEY AUTOINCREMENT", "TEXT", "INTEGER",
                                           "INTEGER"};
inline constexpr SqlDialect kPostgresDialect{"BIGSERIAL PRIMARY KEY", "TEXT", "INTEGER", "BIGINT"};

// A column of the record: how its field is stored and read back, and the layout version that
// added it (a database of an earlier layout has no such column).
struct RecordColumn : LayoutColumn {
    QVariant (*stored)(const AttemptRecord& record);  // null for a field that is absent
    void (*take)(AttemptRecord& record, const QVariant& value);
    int since = 1;
};

// The layout version that adds the production job's columns (job, job_sha256, lot, hook).
inline constexpr int kJobLayout = 4;

// The ways a field is stored: text as it is, a number, a number that may be absent.
namespace record_fields {
template <std::string AttemptRecord::*kField>
QVariant Text(const AttemptRecord& record) {
    return QString::fromStdString(record.*kField);
}
template <std::string AttemptRecord::*kField>
void TakeText(AttemptRecord& record, const QVariant& value) {
    record.*kField = value.toString().toStdString();
}
template <int AttemptRecord::*kField>
QVariant Number(const AttemptRecord& record) {
    return record.*kField;
}
template <int AttemptRecord::*kField>
void TakeNumber(AttemptRecord& record, const QVariant& value) {
    record.*kField = value.toInt();
}
template <std::optional<int> AttemptRecord::*kField>
QVariant Optional(const AttemptRecord& record) {
    return record.*kField ? QVariant(*(record.*kField)) : QVariant();
}
template <std::optional<int> AttemptRecord::*kField>
void TakeOptional(AttemptRecord& record, const QVariant& value) {
    if (!value.isNull()) {
        record.*kField = value.toInt();
    }
}
QVariant EndedUtc(const AttemptRecord& record);  // none while the attempt runs
QVariant State(const AttemptRecord& record);
void TakeState(AttemptRecord& record, const QVariant& value);
QVariant FileSize(const AttemptRecord& record);
void TakeFileSize(AttemptRecord& record, const QVariant& value);
}  // namespace record_fields

// The columns of a record after its id, in the order of AttemptRecord.
inline constexpr std::array<RecordColumn, 24> kRecordLayout = [] {
    using A = AttemptRecord;
    using namespace record_fields;
    const auto text = [](std::string_view name, auto stored, auto take,
                         std::string_view constraint = {}) {
        return RecordColumn{{name, SqlType::Text, constraint}, stored, take};
    };
    const auto number = [](std::string_view name, auto stored, auto take) {
        return RecordColumn{{name, SqlType::Integer}, stored, take};
    };
    const auto job = [](std::string_view name, auto stored, auto take) {
        return RecordColumn{{name, SqlType::Text}, stored, take, kJobLayout};
    };
    return std::array<RecordColumn, 24>{
        text("started_utc", Text<&A::startedUtc>, TakeText<&A::startedUtc>, "NOT NULL"),
        text("ended_utc", EndedUtc, TakeText<&A::endedUtc>),
        text("state", State, TakeState, "NOT NULL"),
        text("station", Text<&A::station>, TakeText<&A::station>),
        text("operator", Text<&A::operatorName>, TakeText<&A::operatorName>),
        text("link", Text<&A::link>, TakeText<&A::link>),
        text("device", Text<&A::device>, TakeText<&A::device>),
        text("description", Text<&A::description>, TakeText<&A::description>),
        text("bootloader_version", Text<&A::bootloaderVersion>, TakeText<&A::bootloaderVersion>),
        number("device_id", Optional<&A::deviceId>, TakeOptional<&A::deviceId>),
        text("device_name", Text<&A::deviceName>, TakeText<&A::deviceName>),
        text("hardware", Text<&A::hardware>, TakeText<&A::hardware>),
        text("software", Text<&A::software>, TakeText<&A::software>),
        text("file_name", Text<&A::fileName>, TakeText<&A::fileName>),
        RecordColumn{{"file_size", SqlType::BigInteger}, FileSize, TakeFileSize},
        text("file_sha256", Text<&A::fileSha256>, TakeText<&A::fileSha256>),
        number("frames_sent", Number<&A::framesSent>, TakeNumber<&A::framesSent>),
        number("retries", Number<&A::retries>, TakeNumber<&A::retries>),
        number("result_code", Optional<&A::resultCode>, TakeOptional<&A::resultCode>),
        text("message", Text<&A::message>, TakeText<&A::message>),
        job("job", Text<&A::job>, TakeText<&A::job>),
        job("job_sha256", Text<&A::jobSha256>, TakeText<&A::jobSha256>),
        job("lot", Text<&A::lot>, TakeText<&A::lot>),
        job("hook", Text<&A::hook>, TakeText<&A::hook>),
    };
}();

// Their names; the CSV header and the JSON field names are these.
inline constexpr std::array<std::string_view, kRecordLayout.size()> kRecordColumns = [] {
    std::array<std::string_view, kRecordLayout.size()> names{};
    for (std::size_t i = 0; i < names.size(); ++i) {
        names[i] = kRecordLayout[i].name;
    }
    return names;
}();

// Every store finds its attempts by the day they began.
inline constexpr LayoutIndex kStartedIndex{"attempts_started", "started_utc"};

// The step that adds the job's columns, the same in the local store and the plant database; a
// lot's attempts are found by its index (the lot's tally, records --lot).
inline constexpr auto kJobColumns = [] {
    std::array<LayoutColumn, 4> columns{};
    std::size_t n = 0;
    for (const RecordColumn& column : kRecordLayout) {
        if (column.since == kJobLayout) {
            columns.at(n++) = column;
        }
    }
    return columns;
}();
inline constexpr std::array<LayoutIndex, 1> kJobIndexes{{{"attempts_lot", "lot"}}};
inline constexpr LayoutStep kJobLayoutStep{kJobLayout, kJobColumns, kJobIndexes};

// The record's columns in a query of a database of layout `version`: a column that layout does
// not have reads as NULL.
QString RecordColumnList(int version);

// Creates the layout of `version` in an empty database: schema_version, attempts with
// `leading` between the id and the record's columns of that version, and kStartedIndex. False when
// a statement failed (the query's error says why).
bool CreateLayout(QSqlQuery& query, const SqlDialect& dialect,
                  std::span<const LayoutColumn> leading, int version);
// Adds the step's columns, fills them and adds its indexes; then the database has the step's
// version.
bool AddLayoutStep(QSqlQuery& query, const SqlDialect& dialect, const LayoutStep& step);
// The version of an existing layout.
inline constexpr const char* kReadLayoutVersion = "SELECT MAX(version) FROM schema_version";

// A layout of a version after `known` is refused; `shown` names the database. Ok otherwise.
StoreError LaterLayout(const std::string& shown, int found, int known);
// A database without the records' tables, or of a version no records database had.
StoreError NotRecords(const std::string& shown);
