// The plant database on a private PostgreSQL server: stations writing at once, a server that
// goes away in the middle of a session, and logins that cannot work.

#include <gtest/gtest.h>

#include <QSqlQuery>

#include <set>
#include <thread>

#include "records/attempt_records.h"
#include "records/record_reader.h"
#include "records/sql_connection.h"
#include "support/temp_dir.h"
#include "tests/records/pg_cluster.h"

namespace {

constexpr std::chrono::milliseconds kTestRetry{50};
constexpr std::chrono::milliseconds kGenerous{30000};  // an upper bound only

std::unique_ptr<AttemptRecords> Open(const std::string& url, const std::string& local) {
    StoreError error;
    std::string notice;
    auto records = AttemptRecords::Open(url, error, notice, local, kTestRetry);
    EXPECT_NE(records, nullptr) << error.message;
    return records;
}

// Records `count` ended attempts of the devices PREFIX-0, PREFIX-1 ...; the odd ones failed.
void Record(AttemptLog& records, const std::string& prefix, int count) {
    for (int i = 0; i < count; ++i) {
        AttemptRecord r;
        r.device = prefix + std::to_string(i);
        const std::optional<std::int64_t> id = records.Begin(r);
        ASSERT_TRUE(id.has_value());
        r.resultCode = i % 2;
        r.state = AttemptState::Finished;
        ASSERT_TRUE(records.Complete(*id, r));
    }
}

// The devices in the plant database, and in `duplicates` its records of a device seen before.
std::size_t PlantDevices(const std::string& url, int& duplicates) {
    StoreError error;
    const auto reader = RecordReader::Open(url, error);
    EXPECT_NE(reader, nullptr) << error.message;
    std::set<std::string> devices;
    duplicates = 0;
    reader->ForEach({}, [&](std::int64_t, const AttemptRecord& r) {
        duplicates += devices.insert(r.device).second ? 0 : 1;
    });
    return devices.size();
}

class PlantRecordsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string missing = PgCluster::Missing(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
        ASSERT_TRUE(cluster_.Ok());
    }
    std::string Local(const std::string& name) const { return (dir_.Path() / name).string(); }
    TempDir dir_;
    PgCluster cluster_;
    std::string notice_;
    int duplicates_ = -1;
};

}  // namespace

TEST_F(PlantRecordsTest, TwoStationsWritingAtOnceGetEveryRecordThereOnce) {
    {
        const auto a = Open(cluster_.Url(), Local("a.sqlite"));
        const auto b = Open(cluster_.Url(), Local("b.sqlite"));
        std::jthread other([&] { Record(*b, "b", 60); });
        Record(*a, "a", 60);
        other.join();
        EXPECT_EQ(a->Finish(notice_, kGenerous) + b->Finish(notice_, kGenerous), 0) << notice_;
    }
    EXPECT_EQ(PlantDevices(cluster_.Url(), duplicates_), 120u);
    EXPECT_EQ(duplicates_, 0);
    StoreError error;
    std::vector<SummaryRow> rows;
    ASSERT_EQ(RecordReader::Open(cluster_.Url(), error)->Summary({}, rows).status, StoreStatus::Ok);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(std::tuple(rows[0].passed, rows[0].failed, rows[0].firstPassDevices),
              std::tuple(60, 60, 60));
}

TEST_F(PlantRecordsTest, ServerStoppedMidSessionGetsEveryRecordExactlyOnce) {
    const std::string local = Local("station.sqlite");
    {  // trials before any plant database was configured: never sent
        StoreError error;
        Record(*AttemptRecords::Open(local, error, notice_), "trial", 3);
    }
    auto records = Open(cluster_.Url(), local);
    Record(*records, "before", 20);
    ASSERT_EQ(records->Plant()->Drain(kGenerous), 0);
    ASSERT_TRUE(cluster_.Stop(true));
    Record(*records, "away", 20);  // the station keeps working
    for (const auto end = std::chrono::steady_clock::now() + kGenerous;
         records->Plant()->Status().connected || records->Plant()->Status().waiting != 20;) {
        ASSERT_LT(std::chrono::steady_clock::now(), end);
        std::this_thread::sleep_for(kTestRetry);
    }
    EXPECT_NE(records->Plant()->Status().problem.find("is unreachable"), std::string::npos);
    EXPECT_EQ(records->Finish(notice_, kGenerous), 20);  // at once: the server is away
    EXPECT_NE(notice_.find("20 records are not yet in the plant database"), std::string::npos);
    records.reset();
    ASSERT_TRUE(cluster_.Start());
    records = Open(cluster_.Url(), local);  // the next session sends them
    Record(*records, "after", 10);
    EXPECT_EQ(records->Finish(notice_, kGenerous), 0);
    records.reset();
    {  // every commit's acknowledgement lost: all is sent again, and kept once
        SqlConnection connection(QString::fromStdString(local), {});
        ASSERT_TRUE(connection.Open());
        ASSERT_TRUE(QSqlQuery(connection.Db()).exec("UPDATE attempts SET forwarded = 0"));
    }
    EXPECT_EQ(Open(cluster_.Url(), local)->Finish(notice_, kGenerous), 0);
    const std::size_t there = PlantDevices(cluster_.Url(), duplicates_);
    std::printf("records made: 50, records in PostgreSQL: %zu, duplicates: %d\n", there,
                duplicates_);
    EXPECT_EQ(there, 50u);
    EXPECT_EQ(duplicates_, 0);
}

TEST_F(PlantRecordsTest, WrongPasswordIsRefusedAndAnUnreachableServerIsSaidSo) {
    struct Case {
        std::string url;
        StoreStatus writing;  // Ok: the records wait locally meanwhile
        StoreStatus reading;
        const char* says;
    };
    const Case cases[] = {
        {cluster_.Url("wrong"), StoreStatus::Refused, StoreStatus::Refused,
         "refused the login: password authentication failed"},
        {"postgresql://flashwright@127.0.0.1:" + std::to_string(PgCluster::FreePort()) + "/plant",
         StoreStatus::Ok, StoreStatus::Unreachable, "is unreachable"},
    };
    for (const Case& c : cases) {
        StoreError error;
        std::string notice;
        const auto records = AttemptRecords::Open(c.url, error, notice, Local("s.sqlite"));
        EXPECT_EQ(records == nullptr, c.writing != StoreStatus::Ok);
        EXPECT_EQ(error.status, c.writing) << c.url;
        EXPECT_NE((error.message + notice).find(c.says), std::string::npos) << error.message;
        EXPECT_EQ(RecordReader::Open(c.url, error), nullptr);
        EXPECT_EQ(ExitStatusOf(error.status), c.reading == StoreStatus::Refused ? 77 : 69);
        EXPECT_NE(error.message.find(c.says), std::string::npos) << error.message;
    }
}

TEST_F(PlantRecordsTest, AnAttemptThatChangesAfterItWasSentIsSentAgainInItsLatestState) {
    auto records = Open(cluster_.Url(), Local("s.sqlite"));
    AttemptRecord r;
    r.state = AttemptState::Interrupted;
    const std::optional<std::int64_t> id = records->Begin(r);
    ASSERT_TRUE(records->Complete(*id, r));
    ASSERT_EQ(records->Plant()->Drain(kGenerous), 0);
    r.state = AttemptState::Finished;
    ASSERT_TRUE(records->Complete(*id, r));
    EXPECT_EQ(records->Finish(notice_, kGenerous), 0);
    StoreError error;
    RecordReader::Open(cluster_.Url(), error)
        ->ForEach({}, [&](std::int64_t, const AttemptRecord& a) {
            EXPECT_EQ(a.state, AttemptState::Finished);
            ++duplicates_;
        });
    EXPECT_EQ(duplicates_, 0);  // from -1: one row
}
