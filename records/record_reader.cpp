#include "records/record_reader.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <filesystem>
#include <limits>
#include <utility>

#include "log/text_format.h"
#include "log/unique_fd.h"
#include "records/database_url.h"
#include "records/plant_database.h"
#include "records/record_schema.h"
#include "records/sql_connection.h"

namespace {

// How long a read waits for a writer's short lock before it counts as locked out.
constexpr int kReadBusyTimeoutMs = 2000;

bool Exists(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0;
}

// Whether a program holds the writer's lock beside the database. Only looked at, never made.
bool WriterPresent(const std::string& path) {
    const UniqueFd fd(::open((path + ".lock").c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.Valid()) {
        return false;
    }
    if (::flock(fd.Get(), LOCK_SH | LOCK_NB) != 0) {
        return true;
    }
    ::flock(fd.Get(), LOCK_UN);
    return false;
}

// The lot column in a layout that may predate it.
QString LotColumn(int layout) {
    return layout >= kJobLayout ? QStringLiteral("lot") : QStringLiteral("NULL");
}

// The WHERE clause of a filter, its values bound by Bind.
QString Where(const RecordFilter& filter, int layout) {
    QStringList terms;
    if (!filter.lot.empty()) {
        terms << LotColumn(layout) + QStringLiteral(" = :lot");
    }
    if (!filter.since.empty()) {
        terms << QStringLiteral("started_utc >= :since");
    }
    if (!filter.device.empty()) {
        terms << QStringLiteral("device = :device");
    }
    if (!filter.station.empty()) {
        terms << QStringLiteral("station = :station");
    }
    if (!filter.sha256Prefix.empty()) {
        terms
            << QStringLiteral("substr(file_sha256, 1, %1) = :sha").arg(filter.sha256Prefix.size());
    }
    return terms.isEmpty() ? QString()
                           : QStringLiteral(" WHERE ") + terms.join(QStringLiteral(" AND "));
}

void Bind(QSqlQuery& query, const RecordFilter& filter) {
    if (!filter.lot.empty()) {
        query.bindValue(QStringLiteral(":lot"), QString::fromStdString(filter.lot));
    }
    if (!filter.since.empty()) {
        query.bindValue(QStringLiteral(":since"), QString::fromStdString(filter.since));
    }
    if (!filter.device.empty()) {
        query.bindValue(QStringLiteral(":device"), QString::fromStdString(filter.device));
    }
    if (!filter.station.empty()) {
        query.bindValue(QStringLiteral(":station"), QString::fromStdString(filter.station));
    }
    if (!filter.sha256Prefix.empty()) {
        query.bindValue(QStringLiteral(":sha"),
                        QString::fromStdString(LowerCase(filter.sha256Prefix)));
    }
}

// The summary in PostgreSQL, which has no bare columns: the device's first attempt is the one
// numbered 1 in its order of starts.
// %1 is the filter, %2 what the counts are per (k1, k2), %3 their expressions.
constexpr const char* kPlantSummary = R"(
        WITH a AS (
            SELECT %2, link, device,
                   CASE WHEN state = 'finished' AND result_code = 0 THEN 1 ELSE 0 END AS passed,
                   CASE WHEN state = 'interrupted' OR (state = 'finished' AND result_code <> 0)
                        THEN 1 ELSE 0 END AS failed,
                   ROW_NUMBER() OVER (PARTITION BY %3, link, device ORDER BY started_utc, id) AS n
            FROM attempts%1),
        d AS (
            SELECT k1, k2, COUNT(*) AS attempts, SUM(passed) AS passed, SUM(failed) AS failed,
                   MAX(CASE WHEN n = 1 THEN passed ELSE 0 END) AS first_passed
            FROM a GROUP BY k1, k2, link, device)
        SELECT k1, k2, SUM(attempts), SUM(passed), SUM(failed), COUNT(*), SUM(first_passed)
        FROM d GROUP BY k1, k2 ORDER BY k1, k2)";

// The same in SQLite. With exactly one MIN() in a grouped query SQLite takes the bare column
// first_passed from the row with that minimum: the device's first attempt there.
constexpr const char* kSqliteSummary = R"(
        WITH d AS (
            SELECT %2, COUNT(*) AS attempts,
                   SUM(state = 'finished' AND result_code = 0) AS passed,
                   SUM(state = 'interrupted' OR (state = 'finished' AND result_code <> 0))
                       AS failed,
                   MIN(started_utc) AS first,
                   (state = 'finished' AND result_code = 0) AS first_passed
            FROM attempts%1 GROUP BY k1, k2, link, device)
        SELECT k1, k2, SUM(attempts), SUM(passed), SUM(failed), COUNT(*), SUM(first_passed)
        FROM d GROUP BY k1, k2 ORDER BY k1, k2)";

// A result code stored as text, a fraction or beyond an int (SQLite keeps what it is given)
// is kept as it was stored instead of being read as a number it is not.
void ReadResultCode(const QVariant& stored, AttemptRecord& record) {
    bool whole = false;
    const qlonglong code = stored.toLongLong(&whole);
    const int type = stored.typeId();
    whole = whole && (type == QMetaType::LongLong || type == QMetaType::Int) &&
            code >= std::numeric_limits<int>::min() && code <= std::numeric_limits<int>::max();
    if (!stored.isNull() && !whole) {
        record.resultCode.reset();
        record.resultText = stored.toString().toStdString();
    }
}

}  // namespace

std::unique_ptr<RecordReader> RecordReader::Open(const std::string& path, StoreError& error) {
    if (IsPlantUrl(path)) {
        PlantUrl url;
        if (!ParsePlantUrl(path, url, error.message)) {
            error.status = StoreStatus::Refused;
            return nullptr;
        }
        auto plant = std::make_unique<PlantConnection>(url);
        error = plant->Open(false);
        if (error.status != StoreStatus::Ok) {
            return nullptr;
        }
        const int layout = plant->Layout();
        std::unique_ptr<RecordReader> reader(new RecordReader(path, nullptr, std::move(plant)));
        reader->layout_ = layout;
        return reader;
    }
    if (std::optional<StoreError> unsupported = UnsupportedDatabaseUrl(path)) {
        error = std::move(*unsupported);
        return nullptr;
    }
    if (!Exists(path)) {
        error = {StoreStatus::Missing, "no records database at " + path +
                                           " yet: any update or station run with --records " +
                                           path + " makes one"};
        return nullptr;
    }
    if (std::filesystem::is_directory(path)) {
        error = {StoreStatus::Corrupt, path + " is a folder, not a records database"};
        return nullptr;
    }
    const QString uri =
        QUrl::fromLocalFile(QString::fromStdString(std::filesystem::absolute(path).string()))
            .toString(QUrl::FullyEncoded);
    // A database nobody writes and without a write-ahead log is read as unchangeable: SQLite
    // then takes no locks and makes no -wal or -shm file beside it. Otherwise the writer's
    // files are there already, and a read-only connection reads through them.
    const bool quiet = !WriterPresent(path) && !Exists(path + "-wal");
    auto connection = std::make_unique<SqlConnection>(
        uri + (quiet ? QStringLiteral("?immutable=1") : QStringLiteral("?mode=ro")),
        QStringLiteral("QSQLITE_OPEN_URI;QSQLITE_OPEN_READONLY;QSQLITE_BUSY_TIMEOUT=%1")
            .arg(kReadBusyTimeoutMs));
    if (!connection->Open()) {
        error = ErrorOf(connection->Db().lastError(), path);
        if (error.status == StoreStatus::Unwritable) {
            error.status = StoreStatus::Corrupt;  // a file that cannot be read as a database
        }
        return nullptr;
    }
    int layout = 0;
    error = CheckSchema(connection->Db(), path, false, &layout);
    if (error.status == StoreStatus::Unwritable) {
        error.status = StoreStatus::Corrupt;
    }
    if (error.status != StoreStatus::Ok) {
        return nullptr;
    }
    std::unique_ptr<RecordReader> reader(new RecordReader(path, std::move(connection), nullptr));
    reader->layout_ = layout;
    return reader;
}

RecordReader::RecordReader(std::string path, std::unique_ptr<SqlConnection> connection,
                           std::unique_ptr<PlantConnection> plant)
    : path_(std::move(path)), connection_(std::move(connection)), plant_(std::move(plant)) {}

RecordReader::~RecordReader() = default;

QSqlDatabase& RecordReader::Db() {
    return plant_ ? plant_->Db() : connection_->Db();
}

StoreError RecordReader::Failed(const QSqlError& error) const {
    return plant_ ? plant_->ErrorOf(error) : ErrorOf(error, path_);
}

StoreError RecordReader::Consistently(const std::function<StoreError()>& reads) {
    if (!Db().transaction()) {
        return Failed(Db().lastError());
    }
    // PostgreSQL's default isolation takes a new snapshot for each statement.
    QSqlQuery isolation(Db());
    if (plant_ && !isolation.exec(QStringLiteral(
                      "SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY"))) {
        const StoreError error = Failed(isolation.lastError());
        Db().rollback();
        return error;
    }
    const StoreError error = reads();
    Db().rollback();  // nothing was written: ending the transaction is all that is left
    return error;
}

StoreError RecordReader::ForEach(
    const RecordFilter& filter,
    const std::function<void(std::int64_t id, const AttemptRecord&)>& each) {
    QSqlQuery query(Db());
    query.setForwardOnly(true);
    query.prepare(QStringLiteral("SELECT id, %1 FROM attempts%2 ORDER BY started_utc, id")
                      .arg(RecordColumnList(layout_), Where(filter, layout_)));
    Bind(query, filter);
    if (!query.exec()) {
        return Failed(query.lastError());
    }
    const int resultColumn = 1 + static_cast<int>(std::find(kRecordColumns.begin(),
                                                            kRecordColumns.end(), "result_code") -
                                                  kRecordColumns.begin());
    while (query.next()) {
        AttemptRecord record = RecordAt(query, 1);
        ReadResultCode(query.value(resultColumn), record);
        each(query.value(0).toLongLong(), record);
    }
    return query.lastError().isValid() ? Failed(query.lastError()) : StoreError{};
}

StoreError RecordReader::Summary(const RecordFilter& filter, std::vector<SummaryRow>& rows,
                                 SummaryBy by) {
    // First per key and device, then per key. Passed and failed as SummaryRow tells.
    const QString day = QStringLiteral("substr(started_utc, 1, 10)");
    const QString lot = QStringLiteral("COALESCE(%1, '')").arg(LotColumn(layout_));
    const QString keys =
        by == SummaryBy::Lot ? lot + QStringLiteral(", ''") : day + QStringLiteral(", file_sha256");
    const QString named = by == SummaryBy::Lot ? lot + QStringLiteral(" AS k1, '' AS k2")
                                               : day + QStringLiteral(" AS k1, file_sha256 AS k2");
    const QString where = Where(filter, layout_);
    const QString statement = plant_ ? QString::fromLatin1(kPlantSummary).arg(where, named, keys)
                                     : QString::fromLatin1(kSqliteSummary).arg(where, named);
    QSqlQuery query(Db());
    query.setForwardOnly(true);
    query.prepare(statement);
    Bind(query, filter);
    if (!query.exec()) {
        return Failed(query.lastError());
    }
    while (query.next()) {
        SummaryRow row{query.value(0).toString().toStdString(),
                       query.value(1).toString().toStdString(),
                       query.value(2).toLongLong(),
                       query.value(3).toLongLong(),
                       query.value(4).toLongLong(),
                       query.value(5).toLongLong(),
                       query.value(6).toLongLong()};
        if (by == SummaryBy::Lot) {
            row.lot = std::exchange(row.day, {});
            row.fileSha256.clear();
        }
        rows.push_back(std::move(row));
    }
    return query.lastError().isValid() ? Failed(query.lastError()) : StoreError{};
}
