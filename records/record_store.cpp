#include "records/record_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QSqlError>
#include <QSqlQuery>
#include <QVariant>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "records/record_schema.h"
#include "records/sql_connection.h"
#include "records/utc_time.h"

namespace {

// How long a write waits for a reader's lock on the file before it counts as failed.
constexpr int kBusyTimeoutMs = 5000;
// The message of an attempt whose program ended before it did.
constexpr const char* kKilledMessage = "the program ended before the attempt did";

// The lock file of a database: beside its real path, so that every name of the database (a
// symbolic link, a relative path) locks the same file.
std::string LockPathOf(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path real = std::filesystem::weakly_canonical(path, ec);
    return (ec ? std::filesystem::path(path) : real).string() + ".lock";
}

// Takes the lock that makes this program the database's only writer.
UniqueFd LockWriter(const std::string& path, const std::string& lockPath, StoreError& error) {
    for (;;) {
        UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
        if (!fd.Valid()) {
            error = {StoreStatus::Unwritable,
                     "cannot create " + lockPath + ": " + std::strerror(errno)};
            return {};
        }
        if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
            error = {errno == EWOULDBLOCK ? StoreStatus::Locked : StoreStatus::Unwritable,
                     "the records database " + path +
                         " is in use by another flashwright program (a station or an update "
                         "writing records); only one may write it at a time. To run a second "
                         "station, give it records of its own: --records OTHER.sqlite"};
            return {};
        }
        // A program refused at its start removes the lock file it held: the lock then belongs
        // to the file under the name now, not to the one this program opened before.
        struct stat held {};
        struct stat named {};
        if (::fstat(fd.Get(), &held) == 0 && ::stat(lockPath.c_str(), &named) == 0 &&
            held.st_dev == named.st_dev && held.st_ino == named.st_ino) {
            return fd;
        }
    }
}

bool Exec(QSqlQuery& query, const QString& statement) {
    return query.exec(statement);
}

}  // namespace

// The writer thread's connection.
class RecordStore::Writer {
  public:
    explicit Writer(const std::string& path)
        : connection_(QString::fromStdString(path),
                      QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(kBusyTimeoutMs)) {}

    StoreError Open(const std::string& path) {
        if (!connection_.Open()) {
            return ErrorOf(connection_.Db().lastError(), path);
        }
        QSqlDatabase& db = connection_.Db();
        // The layout first, so that a database this program refuses is left as it was.
        if (StoreError error = CheckSchema(db, path, true); error.status != StoreStatus::Ok) {
            return error;
        }
        QSqlQuery query(db);
        // WAL: readers read beside the writer, and a commit is one append to the log. With
        // synchronous=NORMAL a commit has reached the operating system when it returns, so a
        // finished attempt survives the program being killed (SIGKILL); only a power cut may
        // lose the last commits. FULL adds an fsync to every commit: measured with the records
        // benchmark, an attempt's two writes took 8 ms with FULL against 0.3 ms with NORMAL,
        // beyond the 2 ms an attempt's record may cost.
        if (!Exec(query, QStringLiteral("PRAGMA journal_mode=WAL")) || !query.next()) {
            return ErrorOf(query.lastError(), path);
        }
        if (query.value(0).toString() != QStringLiteral("wal")) {
            return {StoreStatus::Unwritable, path + ": the database cannot keep a write-ahead log"};
        }
        if (!Exec(query, QStringLiteral("PRAGMA synchronous=NORMAL"))) {
            return ErrorOf(query.lastError(), path);
        }
        return MarkInterrupted(path);
    }

    std::optional<std::int64_t> Insert(const AttemptRecord& record, const std::string& plant) {
        QSqlDatabase& db = connection_.Db();
        if (!db.transaction()) {
            return std::nullopt;
        }
        QSqlQuery query(db);
        constexpr std::array<std::string_view, 1> kPlant{"plant"};
        query.prepare(InsertRecordStatement(kPlant));
        BindRecord(query, record);
        query.bindValue(QStringLiteral(":plant"),
                        plant.empty() ? QVariant() : QVariant(QString::fromStdString(plant)));
        query.bindValue(QStringLiteral(":uuid"), QString::fromStdString(record.uuid));
        if (!query.exec() || !db.commit()) {
            db.rollback();
            return std::nullopt;
        }
        return query.lastInsertId().toLongLong();
    }

    bool Update(std::int64_t id, const AttemptRecord& record) {
        QSqlDatabase& db = connection_.Db();
        if (!db.transaction()) {
            return false;
        }
        QSqlQuery query(db);
        QString assignments;
        for (const std::string_view column : kRecordColumns) {
            const QString name = QString::fromLatin1(column.data(), column.size());
            assignments += (assignments.isEmpty() ? "" : ", ") + name + " = :" + name;
        }
        // A changed row is forwarded again, in its new revision.
        query.prepare(QStringLiteral("UPDATE attempts SET %1, forwarded = 0, revision = revision + "
                                     "1 WHERE id = :id")
                          .arg(assignments));
        BindRecord(query, record);
        query.bindValue(QStringLiteral(":id"), QVariant::fromValue<qlonglong>(id));
        if (!query.exec() || query.numRowsAffected() != 1 || !db.commit()) {
            db.rollback();
            return false;
        }
        return true;
    }

    bool SetHook(const std::string& uuid, const std::string& hook) {
        QSqlQuery query(connection_.Db());
        query.prepare(
            QStringLiteral("UPDATE attempts SET hook = :hook, forwarded = 0, revision = "
                           "revision + 1 WHERE uuid = :uuid"));
        query.bindValue(QStringLiteral(":hook"), QString::fromStdString(hook));
        query.bindValue(QStringLiteral(":uuid"), QString::fromStdString(uuid));
        return query.exec() && query.numRowsAffected() == 1;
    }

    std::optional<LotTally> Tally(const std::string& lot) {
        QSqlQuery query(connection_.Db());
        query.setForwardOnly(true);
        query.prepare(QStringLiteral(
            "SELECT link, device, state = 'finished' AND result_code = 0 FROM attempts WHERE lot "
            "= :lot AND state <> 'running' ORDER BY started_utc, id"));
        query.bindValue(QStringLiteral(":lot"), QString::fromStdString(lot));
        if (!query.exec()) {
            return std::nullopt;
        }
        std::vector<LotAttempt> attempts;
        while (query.next()) {
            attempts.push_back({query.value(0).toString().toStdString(),
                                query.value(1).toString().toStdString(),
                                query.value(2).toInt() == 1});
        }
        if (query.lastError().isValid()) {
            return std::nullopt;
        }
        return TallyLot(attempts);
    }

    bool TakeWaiting(const std::string& plant, std::size_t limit, std::vector<Waiting>& batch,
                     std::int64_t& total) {
        QSqlQuery query(connection_.Db());
        QStringList names;
        for (const std::string_view column : kRecordColumns) {
            names << QString::fromLatin1(column.data(), column.size());
        }
        const QString waiting = QStringLiteral(
            "FROM attempts WHERE forwarded = 0 AND state <> 'running' AND plant = :plant");
        query.prepare(QStringLiteral("SELECT id, revision, uuid, %1 %2 ORDER BY id LIMIT :limit")
                          .arg(names.join(QStringLiteral(", ")), waiting));
        query.bindValue(QStringLiteral(":plant"), QString::fromStdString(plant));
        query.bindValue(QStringLiteral(":limit"), QVariant::fromValue<qulonglong>(limit));
        if (!query.exec()) {
            return false;
        }
        while (query.next()) {
            Waiting row{query.value(0).toLongLong(), query.value(1).toLongLong(),
                        RecordAt(query, 3)};
            row.record.uuid = query.value(2).toString().toStdString();
            batch.push_back(std::move(row));
        }
        query.prepare(QStringLiteral("SELECT COUNT(*) ") + waiting);
        query.bindValue(QStringLiteral(":plant"), QString::fromStdString(plant));
        if (!query.exec() || !query.next()) {
            return false;
        }
        total = query.value(0).toLongLong();
        return true;
    }

    bool MarkForwarded(std::span<const Waiting> sent) {
        QSqlDatabase& db = connection_.Db();
        if (!db.transaction()) {
            return false;
        }
        QSqlQuery query(db);
        query.prepare(QStringLiteral(
            "UPDATE attempts SET forwarded = 1 WHERE id = :id AND revision = :revision"));
        for (const Waiting& row : sent) {
            query.bindValue(QStringLiteral(":id"), QVariant::fromValue<qlonglong>(row.id));
            query.bindValue(QStringLiteral(":revision"),
                            QVariant::fromValue<qlonglong>(row.revision));
            if (!query.exec()) {
                db.rollback();
                return false;
            }
        }
        return db.commit();
    }

  private:
    StoreError MarkInterrupted(const std::string& path) {
        QSqlDatabase& db = connection_.Db();
        QSqlQuery query(db);
        if (!db.transaction()) {
            return ErrorOf(db.lastError(), path);
        }
        query.prepare(
            QStringLiteral("UPDATE attempts SET state = 'interrupted', message = :message, "
                           "forwarded = 0, revision = revision + 1 WHERE state = 'running'"));
        query.bindValue(QStringLiteral(":message"), QString::fromLatin1(kKilledMessage));
        if (!query.exec() || !db.commit()) {
            const StoreError error = ErrorOf(query.lastError(), path);
            db.rollback();
            return error;
        }
        return {};
    }

    SqlConnection connection_;
};

std::string DefaultRecordsPath() {
    const char* state = std::getenv("XDG_STATE_HOME");
    std::filesystem::path folder;
    if (state != nullptr && *state != '\0') {
        folder = state;
    } else {
        const char* home = std::getenv("HOME");
        folder = std::filesystem::path(home != nullptr ? home : ".") / ".local" / "state";
    }
    return (folder / "flashwright" / "records.sqlite").string();
}

std::unique_ptr<RecordStore> RecordStore::Open(const std::string& path, StoreError& error) {
    std::error_code ec;
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) {
        std::filesystem::create_directories(folder, ec);
    }
    std::string lockPath = LockPathOf(path);
    UniqueFd lock = LockWriter(path, lockPath, error);
    if (!lock.Valid()) {
        return nullptr;
    }
    std::unique_ptr<RecordStore> store(new RecordStore(path, std::move(lock), std::move(lockPath)));
    // The writer thread owns the promise: it may still be inside set_value when get returns.
    std::promise<StoreError> opened;
    std::future<StoreError> result = opened.get_future();
    store->thread_.reset(QThread::create(
        [&store = *store, opened = std::move(opened)]() mutable { store.Serve(opened); }));
    store->thread_->start();
    error = result.get();
    if (error.status != StoreStatus::Ok) {
        // Refused: no lock file stays behind, removed while it is still held.
        ::unlink(store->lockPath_.c_str());
        return nullptr;  // the writer thread has ended; the destructor joins it
    }
    return store;
}

RecordStore::RecordStore(std::string path, UniqueFd lock, std::string lockPath)
    : path_(std::move(path)), lock_(std::move(lock)), lockPath_(std::move(lockPath)) {}

RecordStore::~RecordStore() {
    {
        const std::lock_guard hold(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (thread_ != nullptr) {
        thread_->wait();
    }
}

void RecordStore::Serve(std::promise<StoreError>& opened) {
    {
        auto writer = std::make_unique<Writer>(path_);
        StoreError error = writer->Open(path_);
        const bool ok = error.status == StoreStatus::Ok;
        if (ok) {
            writer_ = std::move(writer);
        }
        opened.set_value(std::move(error));
        if (!ok) {
            return;
        }
    }
    std::unique_lock lock(mutex_);
    while (true) {
        changed_.wait(lock, [&] { return stopping_ || !jobs_.empty(); });
        if (jobs_.empty()) {
            break;
        }
        Job* job = jobs_.front();
        jobs_.pop_front();
        lock.unlock();
        job->work();
        lock.lock();
        job->done = true;
        changed_.notify_all();
    }
    writer_.reset();  // the connection closes on the thread that opened it
}

void RecordStore::OnWriter(std::function<void()> work) {
    Job job{std::move(work)};
    std::unique_lock lock(mutex_);
    jobs_.push_back(&job);
    changed_.notify_all();
    changed_.wait(lock, [&] { return job.done; });
}

std::optional<std::int64_t> RecordStore::Begin(const AttemptRecord& record) {
    AttemptRecord started = record;
    started.state = AttemptState::Running;  // until Complete says how it ended
    started.endedUtc.clear();
    if (started.startedUtc.empty()) {
        started.startedUtc = UtcNow();
    }
    if (started.uuid.empty()) {
        started.uuid = NewAttemptUuid();
    }
    std::optional<std::int64_t> id;
    OnWriter([&] { id = writer_->Insert(started, plant_); });
    return id;
}

bool RecordStore::Complete(std::int64_t id, const AttemptRecord& record) {
    AttemptRecord ended = record;
    if (ended.endedUtc.empty()) {
        ended.endedUtc = UtcNow();
    }
    if (ended.state == AttemptState::Running) {
        ended.state = AttemptState::Interrupted;  // it ended without an outcome
    }
    bool written = false;
    OnWriter([&] { written = writer_->Update(id, ended); });
    return written;
}

bool RecordStore::TakeWaiting(const std::string& plant, std::size_t limit,
                              std::vector<Waiting>& batch, std::int64_t& total) {
    bool read = false;
    OnWriter([&] { read = writer_->TakeWaiting(plant, limit, batch, total); });
    return read;
}

bool RecordStore::MarkForwarded(std::span<const Waiting> sent) {
    bool marked = false;
    OnWriter([&] { marked = writer_->MarkForwarded(sent); });
    return marked;
}

bool RecordStore::SetHook(const std::string& uuid, const std::string& hook) {
    bool written = false;
    OnWriter([&] { written = writer_->SetHook(uuid, hook); });
    return written;
}

std::optional<LotTally> RecordStore::Tally(const std::string& lot) {
    std::optional<LotTally> tally;
    OnWriter([&] { tally = writer_->Tally(lot); });
    return tally;
}
