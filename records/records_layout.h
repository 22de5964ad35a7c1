#pragma once

#include <QSqlQuery>
#include <QString>

#include <array>
#include <span>
#include <string>
#include <string_view>

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

// The columns of a record after its id, in the order of AttemptRecord.
inline constexpr std::array<LayoutColumn, 20> kRecordLayout{{
    {"started_utc", SqlType::Text, "NOT NULL"},
    {"ended_utc", SqlType::Text},
    {"state", SqlType::Text, "NOT NULL"},
    {"station", SqlType::Text},
    {"operator", SqlType::Text},
    {"link", SqlType::Text},
    {"device", SqlType::Text},
    {"description", SqlType::Text},
    {"bootloader_version", SqlType::Text},
    {"device_id", SqlType::Integer},
    {"device_name", SqlType::Text},
    {"hardware", SqlType::Text},
    {"software", SqlType::Text},
    {"file_name", SqlType::Text},
    {"file_size", SqlType::BigInteger},
    {"file_sha256", SqlType::Text},
    {"frames_sent", SqlType::Integer},
    {"retries", SqlType::Integer},
    {"result_code", SqlType::Integer},
    {"message", SqlType::Text},
}};

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

// Creates the layout of `version` in an empty database: schema_version, attempts with
// `leading` between the id and the record's columns, and kStartedIndex. False when a
// statement failed (the query's error says why).
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
