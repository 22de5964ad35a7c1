// The records database: written from several threads, left by a killed writer, guarded against
// a second writer, read without a change, refused with its own status, and printed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSqlQuery>

#include <filesystem>
#include <functional>
#include <thread>

#include "records/record_reader.h"
#include "records/record_schema.h"
#include "records/record_store.h"
#include "records/sql_connection.h"
#include "support/temp_dir.h"

namespace {

AttemptRecord Attempt(const std::string& started, const std::string& device, int code) {
    AttemptRecord r;
    r.startedUtc = started;
    r.link = "UDP";
    r.device = device;
    r.fileSha256 = "ab12";
    r.resultCode = code;
    r.state = AttemptState::Finished;
    return r;
}

std::vector<AttemptRecord> ReadAll(const std::string& path, const RecordFilter& filter = {}) {
    StoreError error;
    const auto reader = RecordReader::Open(path, error);
    std::vector<AttemptRecord> records;
    EXPECT_NE(reader, nullptr) << error.message;
    reader->ForEach(filter, [&](std::int64_t, const AttemptRecord& r) { records.push_back(r); });
    return records;
}

class RecordStoreTest : public ::testing::Test {
  protected:
    std::unique_ptr<RecordStore> OpenStore() {
        StoreError error;
        auto store = RecordStore::Open(path_, error);
        EXPECT_NE(store, nullptr) << error.message;
        return store;
    }
    TempDir dir_;
    const std::string path_ = (dir_.Path() / "state" / "records.sqlite").string();
};

}  // namespace

TEST_F(RecordStoreTest, AttemptsFromManyThreadsAreAllWrittenWhole) {
    constexpr int kThreads = 8;
    constexpr int kEach = 10;
    {
        const auto store = OpenStore();
        std::vector<std::jthread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < kEach; ++i) {
                    AttemptRecord r = Attempt("2026-12-08T10:00:00.000Z", std::to_string(t), 0);
                    const auto id = store->Begin(r);
                    ASSERT_TRUE(id.has_value());
                    r.deviceId = 7;
                    r.message = "line \"one\",\nline two";
                    r.state = AttemptState::Finished;
                    EXPECT_TRUE(store->Complete(*id, r));
                }
            });
        }
    }
    const std::vector<AttemptRecord> records = ReadAll(path_);
    ASSERT_EQ(records.size(), std::size_t{kThreads * kEach});
    for (const AttemptRecord& r : records) {
        EXPECT_EQ(r.state, AttemptState::Finished);
        EXPECT_EQ(r.deviceId, 7);
        EXPECT_EQ(r.message, "line \"one\",\nline two");
    }
    EXPECT_EQ(ReadAll(path_, {"", "3", ""}).size(), std::size_t{kEach});
}

TEST_F(RecordStoreTest, AttemptOfAKilledWriterIsInterruptedWhenTheStoreOpensAgain) {
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        StoreError error;
        const auto store = RecordStore::Open(path_, error);
        const auto done = store->Begin(Attempt("2026-12-08T10:00:00.000Z", "done", 0));
        store->Complete(*done, Attempt("2026-12-08T10:00:00.000Z", "done", 0));
        store->Begin(Attempt("2026-12-08T10:00:01.000Z", "in flight", 0));
        ::_exit(::write(ready[1], "x", 1) == 1 && ::pause() < 0 ? 0 : 1);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    OpenStore();
    const std::vector<AttemptRecord> records = ReadAll(path_);
    ASSERT_EQ(records.size(), 2u);
    EXPECT_EQ(records[0].state, AttemptState::Finished);
    EXPECT_EQ(records[1].state, AttemptState::Interrupted);
}

TEST_F(RecordStoreTest, SecondWriterIsRefusedButReadersReadBesideTheFirst) {
    const auto store = OpenStore();
    store->Begin(Attempt("2026-12-08T10:00:00.000Z", "a", 0));
    StoreError error;
    // Another name of the same file (a symbolic link) is the same database.
    const std::string link = (dir_.Path() / "link.sqlite").string();
    std::filesystem::create_symlink(path_, link);
    for (const std::string& name : {path_, link}) {
        EXPECT_EQ(RecordStore::Open(name, error), nullptr) << name;
        EXPECT_EQ(ExitStatusOf(error.status), 75) << name;
        EXPECT_NE(error.message.find(name + " is in use"), std::string::npos) << error.message;
        EXPECT_NE(error.message.find("--records OTHER.sqlite"), std::string::npos);
    }
    EXPECT_EQ(ReadAll(path_).size(), 1u);
}

TEST_F(RecordStoreTest, ReadingLeavesTheFolderAndTheFileAsTheyWere) {
    OpenStore()->Begin(Attempt("2026-12-08T10:00:00.000Z", "a", 0));
    using Folder = std::filesystem::directory_iterator;
    const auto listing = [&] { return std::distance(Folder(dir_.Path() / "state"), Folder()); };
    const auto before = listing();
    const std::string bytes = dir_.Read("state/records.sqlite");
    const auto mtime = std::filesystem::last_write_time(path_);
    ASSERT_EQ(ReadAll(path_).size(), 1u);
    EXPECT_EQ(listing(), before);  // no -wal or -shm file made
    EXPECT_EQ(dir_.Read("state/records.sqlite"), bytes);
    EXPECT_EQ(std::filesystem::last_write_time(path_), mtime);
}

TEST_F(RecordStoreTest, DatabasesThatCannotBeReadHaveAStatusEach) {
    const auto sql = [&](const QString& statement) {
        SqlConnection connection(QString::fromStdString(path_), {});
        ASSERT_TRUE(connection.Open());
        QSqlQuery query(connection.Db());
        ASSERT_TRUE(query.exec(statement));
    };
    struct Case {
        const char* name;
        std::function<void()> make;
        StoreStatus status;
        int exit;
    };
    const Case cases[] = {
        {"missing", [] {}, StoreStatus::Missing, 66},
        {"newer layout",
         [&] {
             OpenStore();
             sql(QStringLiteral("UPDATE schema_version SET version = %1").arg(kSchemaVersion + 1));
         },
         StoreStatus::NewerSchema, 76},
        {"not a database", [&] { dir_.Write("state/records.sqlite", std::string(4096, 'x')); },
         StoreStatus::Corrupt, 65},
        {"another program's database", [&] { sql("CREATE TABLE other (x)"); }, StoreStatus::Corrupt,
         65},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(dir_.Path() / "state");
        std::filesystem::create_directories(dir_.Path() / "state");
        c.make();
        StoreError error;
        EXPECT_EQ(RecordReader::Open(path_, error), nullptr) << c.name;
        EXPECT_EQ(error.status, c.status) << c.name << ": " << error.message;
        EXPECT_EQ(ExitStatusOf(error.status), c.exit) << c.name;
        if (c.status != StoreStatus::Missing) {
            EXPECT_EQ(RecordStore::Open(path_, error), nullptr) << c.name;
            EXPECT_EQ(error.status, c.status) << c.name;
            EXPECT_FALSE(std::filesystem::exists(path_ + ".lock")) << c.name;  // none left
        }
    }
}

TEST_F(RecordStoreTest, LayoutOneIsMigratedAndEachOfItsAttemptsGetsAUniqueId) {
    OpenStore()->Begin(Attempt("2026-12-01T00:00:00.000Z", "a", 0));
    OpenStore()->Begin(Attempt("2026-12-02T00:00:00.000Z", "b", 0));
    SqlConnection connection(QString::fromStdString(path_), {});
    ASSERT_TRUE(connection.Open());
    QSqlQuery q(connection.Db());
    for (const char* column : {"job", "job_sha256", "lot", "hook"}) {  // layout 4's, then 1's
        ASSERT_TRUE(q.exec("DROP INDEX IF EXISTS attempts_lot") &&
                    q.exec(QStringLiteral("ALTER TABLE attempts DROP COLUMN ") + column));
    }
    for (const char* back :
         {"DROP INDEX attempts_uuid", "DROP INDEX attempts_waiting",
          "ALTER TABLE attempts DROP COLUMN uuid", "ALTER TABLE attempts DROP COLUMN forwarded",
          "ALTER TABLE attempts DROP COLUMN plant", "ALTER TABLE attempts DROP COLUMN revision",
          "UPDATE schema_version SET version = 1"}) {
        ASSERT_TRUE(q.exec(back)) << back;  // as an earlier version wrote it
    }
    EXPECT_EQ(ReadAll(path_, {.lot = "L1"}).size(), 0u);  // read as it is
    OpenStore()->Begin(Attempt("2026-12-03T00:00:00.000Z", "c", 0));
    ASSERT_TRUE(
        q.exec("SELECT MAX(version), COUNT(DISTINCT uuid), SUM(length(uuid) = 36), "
               "SUM(forwarded) - SUM(lot IS NULL) FROM attempts, schema_version"));
    ASSERT_TRUE(q.next());
    // The current layout, three distinct ids, none forwarded, the two earlier without a lot.
    EXPECT_EQ(
        std::tuple(q.value(0).toInt(), q.value(1).toInt(), q.value(2).toInt(), q.value(3).toInt()),
        std::tuple(kSchemaVersion, 3, 3, -2));
}

TEST_F(RecordStoreTest, ALotsTallyAndAHookOutcomeThatArrivesAfterItsRecord) {
    const auto store = OpenStore();
    store->ForwardTo("plant");
    using A = std::tuple<const char*, const char*, int, const char*>;  // link, device, code, lot
    int minute = 10;
    std::string last;
    for (const auto& [link, device, code, lot] :
         {A{"FTDI", "S1", -15, "L1"}, A{"FTDI", "S1", 0, "L1"}, A{"FTDI", "S2", 0, "L1"},
          A{"UDP", "slot", 0, "L1"}, A{"UDP", "slot", -20, "L1"}, A{"FTDI", "S3", 0, "L2"},
          A{"UDP", "slot", -11, "L1"}}) {
        AttemptRecord r =
            Attempt("2026-12-08T10:" + std::to_string(minute++) + ":00.000Z", device, code);
        std::tie(r.link, r.lot, r.uuid) = std::tuple(link, lot, last = NewAttemptUuid());
        store->Complete(*store->Begin(r), r);
    }
    const LotTally t = store->Tally("L1").value();
    EXPECT_EQ(std::tuple(t.attempts, t.passed, t.devices, t.firstPassDevices, t.failuresInARow),
              std::tuple(6, 3, 5, 2, 2));  // each slot attempt a device; S1 failed first
    // The hook's outcome changes a forwarded record: it is forwarded again, with the outcome.
    std::vector<RecordStore::Waiting> sent, again;
    std::int64_t total = 0;
    ASSERT_TRUE(store->TakeWaiting("plant", 9, sent, total) && store->MarkForwarded(sent));
    ASSERT_TRUE(store->SetHook(last, "exit 3") && store->TakeWaiting("plant", 9, again, total));
    EXPECT_EQ(std::tuple(again.at(0).record.hook, again[0].record.uuid),
              std::tuple("exit 3", last));
}

TEST_F(RecordStoreTest, SummaryCountsFirstPassYieldPerDayAndFile) {
    {
        const auto store = OpenStore();
        for (const AttemptRecord& r : {Attempt("2026-12-08T10:00:00.000Z", "a", -15),
                                       Attempt("2026-12-08T10:01:00.000Z", "a", 0),
                                       Attempt("2026-12-08T10:02:00.000Z", "b", 0),
                                       Attempt("2026-12-08T10:03:00.000Z", "c", -11),
                                       Attempt("2026-12-09T09:00:00.000Z", "a", 0)}) {
            store->Complete(*store->Begin(r), r);
        }
    }
    StoreError error;
    std::vector<SummaryRow> rows;
    RecordReader::Open(path_, error)->Summary({}, rows);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(std::tie(rows[0].day, rows[0].attempts, rows[0].passed, rows[0].failed),
              std::make_tuple("2026-12-08", 4, 2, 2));
    EXPECT_DOUBLE_EQ(rows[0].FirstPassYield(), 1.0 / 3.0);  // of a, b and c only b
    EXPECT_DOUBLE_EQ(rows[1].FirstPassYield(), 1.0);
    EXPECT_EQ(ReadAll(path_, {"2026-12-09", "", "AB"}).size(), 1u);
}

#if defined(__SANITIZE_THREAD__)
// The store's writer is a QThread: Qt's own locking (a futex, not a pthread mutex) is invisible
// to ThreadSanitizer, so the end of that thread and its wait look like a race inside Qt.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libQt6Core.so.6\n";
}
#endif
