#include "records/record_schema.h"

#include <QSqlError>
#include <QUuid>
#include <QVariant>

#include <functional>
#include <vector>

#include "records/sql_connection.h"

namespace {

// Layout 1 to 2: every attempt gets its unique id, none is forwarded yet.
bool GiveEachAttemptAUuid(QSqlQuery& query) {
    if (!query.exec(QStringLiteral("SELECT id FROM attempts"))) {
        return false;
    }
    std::vector<qlonglong> ids;
    while (query.next()) {
        ids.push_back(query.value(0).toLongLong());
    }
    query.prepare(QStringLiteral("UPDATE attempts SET uuid = :uuid WHERE id = :id"));
    for (const qlonglong id : ids) {
        query.bindValue(QStringLiteral(":uuid"), QString::fromStdString(NewAttemptUuid()));
        query.bindValue(QStringLiteral(":id"), id);
        if (!query.exec()) {
            return false;
        }
    }
    return true;
}

constexpr std::array<LayoutColumn, 2> kVersion2Columns{{
    {"uuid", SqlType::Text},
    {"forwarded", SqlType::Integer, "NOT NULL DEFAULT 0"},
}};
// The partial index finds the attempts waiting to be forwarded without reading the others.
constexpr std::array<LayoutIndex, 2> kVersion2Indexes{{
    {"attempts_uuid", "uuid", true},
    {"attempts_waiting", "id", false, "forwarded = 0"},
}};
// Layout 2 to 3: the attempts recorded so far were meant for no known plant database (plant
// is none), so they are never forwarded.
constexpr std::array<LayoutColumn, 2> kVersion3Columns{{
    {"plant", SqlType::Text},
    {"revision", SqlType::Integer, "NOT NULL DEFAULT 0"},
}};
// The versions after layout 1, which a new database is made as and then migrated from.
constexpr std::array<LayoutStep, 3> kStoreSteps{{
    {2, kVersion2Columns, kVersion2Indexes, &GiveEachAttemptAUuid},
    {3, kVersion3Columns},
    kJobLayoutStep,
}};
static_assert(kStoreSteps.back().version == kSchemaVersion);

// Takes a database of layout `from` to kSchemaVersion.
bool MigrateFrom(QSqlQuery& query, int from) {
    for (const LayoutStep& step : kStoreSteps) {
        if (step.version > from && !AddLayoutStep(query, kSqliteDialect, step)) {
            return false;
        }
    }
    return true;
}

// Runs `change` in one transaction.
StoreError InTransaction(QSqlDatabase& db, QSqlQuery& query, const std::string& path,
                         const std::function<bool()>& change) {
    if (!db.transaction()) {
        return ErrorOf(db.lastError(), path);
    }
    const bool made = change();
    if (!made || !db.commit()) {
        const StoreError error = ErrorOf(made ? db.lastError() : query.lastError(), path);
        db.rollback();
        return error;
    }
    return {};
}

}  // namespace

std::string_view StateText(AttemptState state) {
    switch (state) {
        case AttemptState::Running:
            return "running";
        case AttemptState::Finished:
            return "finished";
        case AttemptState::Interrupted:
            return "interrupted";
    }
    return "interrupted";
}

StoreError ErrorOf(const QSqlError& error, const std::string& path) {
    const int code = SqliteCode(error.nativeErrorCode());
    const std::string text = error.text().toStdString();
    if (code == kSqliteBusy || code == kSqliteLocked) {
        return {StoreStatus::Locked, path + " is locked by another program (" + text + ")"};
    }
    if (code == kSqliteCorrupt || code == kSqliteNotADatabase) {
        return {StoreStatus::Corrupt, path + " is damaged or not a database (" + text + ")"};
    }
    return {StoreStatus::Unwritable, path + ": " + text};
}

StoreError CheckSchema(QSqlDatabase& db, const std::string& path, bool create, int* layout) {
    QSqlQuery query(db);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'table'"))) {
        return ErrorOf(query.lastError(), path);
    }
    bool any = false;
    bool hasVersion = false;
    bool hasAttempts = false;
    while (query.next()) {
        const QString name = query.value(0).toString();
        any = true;
        hasVersion = hasVersion || name == QStringLiteral("schema_version");
        hasAttempts = hasAttempts || name == QStringLiteral("attempts");
    }
    if (!any && create) {
        if (layout != nullptr) {
            *layout = kSchemaVersion;
        }
        // Layout 1, then the same migration an existing database of layout 1 takes.
        return InTransaction(db, query, path, [&] {
            return CreateLayout(query, kSqliteDialect, {}, 1) && MigrateFrom(query, 1);
        });
    }
    if (!hasVersion) {
        return NotRecords(path);
    }
    if (!query.exec(QString::fromLatin1(kReadLayoutVersion)) || !query.next()) {
        return ErrorOf(query.lastError(), path);
    }
    const int version = query.value(0).toInt();
    if (StoreError later = LaterLayout(path, version, kSchemaVersion);
        later.status != StoreStatus::Ok) {
        return later;
    }
    if (version < 1 || !hasAttempts) {
        return NotRecords(path);
    }
    if (layout != nullptr) {
        *layout = create ? kSchemaVersion : version;  // a reader reads it as it is
    }
    if (version < kSchemaVersion && create) {
        return InTransaction(db, query, path, [&] { return MigrateFrom(query, version); });
    }
    return {};
}

std::string NewAttemptUuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
}

void BindRecord(QSqlQuery& query, const AttemptRecord& record) {
    for (const RecordColumn& column : kRecordLayout) {
        query.bindValue(
            QLatin1Char(':') +
                QString::fromLatin1(column.name.data(), static_cast<qsizetype>(column.name.size())),
            column.stored(record));
    }
}

AttemptRecord RecordAt(const QSqlQuery& query, int first) {
    AttemptRecord record;
    for (const RecordColumn& column : kRecordLayout) {
        column.take(record, query.value(first++));
    }
    return record;
}

QString InsertRecordStatement(std::span<const std::string_view> extra) {
    QString columns = QStringLiteral("uuid");
    QString values = QStringLiteral(":uuid");
    for (const std::string_view column : extra) {
        const QString name = QString::fromLatin1(column.data(), column.size());
        columns += ", " + name;
        values += ", :" + name;
    }
    for (const std::string_view column : kRecordColumns) {
        const QString name = QString::fromLatin1(column.data(), column.size());
        columns += ", " + name;
        values += ", :" + name;
    }
    return QStringLiteral("INSERT INTO attempts (%1) VALUES (%2)").arg(columns, values);
}
