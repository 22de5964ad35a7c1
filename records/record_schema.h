#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>

#include <array>
#include <span>
#include <string_view>

#include "records/attempt_record.h"
#include "records/records_layout.h"
#include "records/store_status.h"

// The layout of the local records database (SQLite). The table schema_version holds one row with
// the layout's version; a later program that changes the layout migrates from the version it finds,
// and this one refuses a database of a version it does not know. Layout 2 adds each attempt's
// unique id (uuid) and whether it has been forwarded to a plant database (forwarded, 0 or 1).
// Layout 3 adds the plant database each attempt is meant for (plant: its URL without the password,
// none when no plant database was configured) and the count of the row's changes (revision), so a
// row that changes after it was forwarded is forwarded again. Layout 4 adds the production
// job's columns (kJobLayoutStep: job, job_sha256, lot, hook) and an index on lot.
inline constexpr int kSchemaVersion = 4;

std::string_view StateText(AttemptState state);

// Checks the layout of an open database. With `create`, a database without any table gets the
// layout of this version, and one of an earlier version is migrated to it (each in one
// transaction); without, an earlier version is read as it is. A database of a later version,
// or one that is not a records database, is refused.
// The layout's version, when `version` is given: an earlier one is read as it is.
StoreError CheckSchema(QSqlDatabase& db, const std::string& path, bool create,
                       int* version = nullptr);

// Binds a record's columns to the placeholders :started_utc ... :message of `query`.
void BindRecord(QSqlQuery& query, const AttemptRecord& record);
// The INSERT of one attempt into `attempts`: its uuid, the columns `extra` (bound by the caller)
// and kRecordColumns, bound by BindRecord.
QString InsertRecordStatement(std::span<const std::string_view> extra = {});
// The record in the current row of `query`, whose columns from `first` on are kRecordColumns.
AttemptRecord RecordAt(const QSqlQuery& query, int first);

// A new attempt's unique id: a random UUID in its 36-character text form.
std::string NewAttemptUuid();

// The error a failed statement stands for.
StoreError ErrorOf(const QSqlError& error, const std::string& path);
