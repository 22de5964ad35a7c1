#include "records/record_schema.h"

#include <QSqlError>
#include <QUuid>
#include <QVariant>

#include <functional>
#include <vector>

#include "records/sql_connection.h"

namespace {

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

std::string Std(const QVariant& value) {
    return value.toString().toStdString();
}

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
constexpr std::array<LayoutStep, 2> kStoreSteps{{
    {2, kVersion2Columns, kVersion2Indexes, &GiveEachAttemptAUuid},
    {3, kVersion3Columns},
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

StoreError CheckSchema(QSqlDatabase& db, const std::string& path, bool create) {
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
    if (version < kSchemaVersion && create) {
        return InTransaction(db, query, path, [&] { return MigrateFrom(query, version); });
    }
    return {};
}

std::string NewAttemptUuid() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toStdString();
}

void BindRecord(QSqlQuery& query, const AttemptRecord& r) {
    query.bindValue(QStringLiteral(":started_utc"), Text(r.startedUtc));
    query.bindValue(QStringLiteral(":ended_utc"),
                    r.endedUtc.empty() ? QVariant() : QVariant(Text(r.endedUtc)));
    query.bindValue(QStringLiteral(":state"), Text(std::string(StateText(r.state))));
    query.bindValue(QStringLiteral(":station"), Text(r.station));
    query.bindValue(QStringLiteral(":operator"), Text(r.operatorName));
    query.bindValue(QStringLiteral(":link"), Text(r.link));
    query.bindValue(QStringLiteral(":device"), Text(r.device));
    query.bindValue(QStringLiteral(":description"), Text(r.description));
    query.bindValue(QStringLiteral(":bootloader_version"), Text(r.bootloaderVersion));
    query.bindValue(QStringLiteral(":device_id"), r.deviceId ? QVariant(*r.deviceId) : QVariant());
    query.bindValue(QStringLiteral(":device_name"), Text(r.deviceName));
    query.bindValue(QStringLiteral(":hardware"), Text(r.hardware));
    query.bindValue(QStringLiteral(":software"), Text(r.software));
    query.bindValue(QStringLiteral(":file_name"), Text(r.fileName));
    query.bindValue(QStringLiteral(":file_size"), QVariant::fromValue<qlonglong>(r.fileSize));
    query.bindValue(QStringLiteral(":file_sha256"), Text(r.fileSha256));
    query.bindValue(QStringLiteral(":frames_sent"), r.framesSent);
    query.bindValue(QStringLiteral(":retries"), r.retries);
    query.bindValue(QStringLiteral(":result_code"),
                    r.resultCode ? QVariant(*r.resultCode) : QVariant());
    query.bindValue(QStringLiteral(":message"), Text(r.message));
}

AttemptRecord RecordAt(const QSqlQuery& q, int first) {
    AttemptRecord r;
    int i = first;
    r.startedUtc = Std(q.value(i++));
    r.endedUtc = Std(q.value(i++));
    const std::string state = Std(q.value(i++));
    r.state = state == "running"    ? AttemptState::Running
              : state == "finished" ? AttemptState::Finished
                                    : AttemptState::Interrupted;
    r.station = Std(q.value(i++));
    r.operatorName = Std(q.value(i++));
    r.link = Std(q.value(i++));
    r.device = Std(q.value(i++));
    r.description = Std(q.value(i++));
    r.bootloaderVersion = Std(q.value(i++));
    const QVariant deviceId = q.value(i++);
    if (!deviceId.isNull()) {
        r.deviceId = deviceId.toInt();
    }
    r.deviceName = Std(q.value(i++));
    r.hardware = Std(q.value(i++));
    r.software = Std(q.value(i++));
    r.fileName = Std(q.value(i++));
    r.fileSize = q.value(i++).toLongLong();
    r.fileSha256 = Std(q.value(i++));
    r.framesSent = q.value(i++).toInt();
    r.retries = q.value(i++).toInt();
    const QVariant code = q.value(i++);
    if (!code.isNull()) {
        r.resultCode = code.toInt();
    }
    r.message = Std(q.value(i++));
    return r;
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
