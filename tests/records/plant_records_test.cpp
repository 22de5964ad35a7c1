// The plant database on a private PostgreSQL server: stations writing at once, a server that
// goes away in the middle of a session, and the logins that cannot work.

#include <gtest/gtest.h>

#include <QSqlQuery>

#include <map>
#include <thread>

#include "records/attempt_records.h"
#include "records/record_reader.h"
#include "records/sql_connection.h"
#include "support/temp_dir.h"
#include "tests/records/pg_cluster.h"

namespace {

// Short, so that the server coming back is noticed at once.
constexpr std::chrono::milliseconds kTestRetry{50};
// Upper bounds only: a healthy run takes a fraction of them.
constexpr std::chrono::milliseconds kGenerous{30000};

std::unique_ptr<AttemptRecords> OpenRecords(const std::string& url, const std::string& local) {
    StoreError error;
    std::string notice;
    auto records = AttemptRecords::Open(url, error, notice, local, kTestRetry);
    EXPECT_NE(records, nullptr) << error.message;
    return records;
}

// Records `count` ended attempts of devices PREFIX-0, PREFIX-1 ...; the odd ones failed.
void Record(AttemptLog& records, const std::string& prefix, int count) {
    for (int i = 0; i < count; ++i) {
        AttemptRecord r;
        r.device = prefix + "-" + std::to_string(i);
        r.fileSha256 = "ab12";
        const std::optional<std::int64_t> id = records.Begin(r);
        ASSERT_TRUE(id.has_value());
        r.resultCode = i % 2;
        r.state = AttemptState::Finished;
        ASSERT_TRUE(records.Complete(*id, r));
    }
}

// How often each device is in the plant database.
std::map<std::string, int> PlantDevices(const std::string& url) {
    StoreError error;
    const auto reader = RecordReader::Open(url, error);
    std::map<std::string, int> devices;
    EXPECT_NE(reader, nullptr) << error.message;
    if (reader != nullptr) {
        reader->ForEach({}, [&](std::int64_t, const AttemptRecord& r) { ++devices[r.device]; });
    }
    return devices;
}

int Duplicates(const std::map<std::string, int>& devices) {
    int extra = 0;
    for (const auto& [device, count] : devices) {
        extra += count - 1;
    }
    return extra;
}

class PlantRecordsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (const std::string missing = PgCluster::Missing(); !missing.empty()) {
            GTEST_SKIP() << missing;
        }
    }
    TempDir dir_;
    std::string Local(const std::string& name) const { return (dir_.Path() / name).string(); }
};

}  // namespace

TEST_F(PlantRecordsTest, TwoStationsWritingAtOnceGetEveryRecordThereOnce) {
    constexpr int kEach = 60;
    PgCluster cluster;
    ASSERT_TRUE(cluster.Ok());
    {
        const auto a = OpenRecords(cluster.Url(), Local("a.sqlite"));
        const auto b = OpenRecords(cluster.Url(), Local("b.sqlite"));
        std::jthread first([&] { Record(*a, "a", kEach); });
        std::jthread second([&] { Record(*b, "b", kEach); });
        first.join();
        second.join();
        std::string notice;
        EXPECT_EQ(a->Finish(notice, kGenerous), 0) << notice;
        EXPECT_EQ(b->Finish(notice, kGenerous), 0) << notice;
    }
    const std::map<std::string, int> devices = PlantDevices(cluster.Url());
    EXPECT_EQ(devices.size(), std::size_t{2 * kEach});
    EXPECT_EQ(Duplicates(devices), 0);
    StoreError error;
    std::vector<SummaryRow> rows;
    const auto reader = RecordReader::Open(cluster.Url(), error);
    ASSERT_NE(reader, nullptr) << error.message;
    ASSERT_EQ(reader->Summary({}, rows).status, StoreStatus::Ok);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].passed, kEach);
    EXPECT_EQ(rows[0].failed, kEach);
    EXPECT_EQ(rows[0].firstPassDevices, kEach);
}

TEST_F(PlantRecordsTest, ServerStoppedMidSessionGetsEveryRecordExactlyOnce) {
    PgCluster cluster;
    ASSERT_TRUE(cluster.Ok());
    const std::string local = Local("station.sqlite");
    std::string notice;
    {
        const auto records = OpenRecords(cluster.Url(), local);
        Record(*records, "before", 20);
        ASSERT_EQ(records->Plant()->Drain(kGenerous), 0);
        ASSERT_TRUE(cluster.Stop(true));
        Record(*records, "away", 20);  // the station keeps working
        const auto deadline = std::chrono::steady_clock::now() + kGenerous;
        while (records->Plant()->Status().connected || records->Plant()->Status().waiting != 20) {
            ASSERT_LT(std::chrono::steady_clock::now(), deadline);
            std::this_thread::sleep_for(kTestRetry);
        }
        EXPECT_NE(records->Plant()->Status().problem.find("is unreachable"), std::string::npos)
            << records->Plant()->Status().problem;
        EXPECT_EQ(records->Finish(notice, kGenerous), 20);  // ends early: the server is away
        EXPECT_NE(notice.find("20 records are not yet in the plant database"), std::string::npos)
            << notice;
    }
    ASSERT_TRUE(cluster.Start());
    auto records = OpenRecords(cluster.Url(), local);  // a later session sends them
    Record(*records, "after", 10);
    EXPECT_EQ(records->Finish(notice, kGenerous), 0);
    records.reset();
    {  // every commit acknowledgement lost: all is sent again, and kept once
        SqlConnection connection(QString::fromStdString(local), {});
        ASSERT_TRUE(connection.Open());
        ASSERT_TRUE(QSqlQuery(connection.Db()).exec("UPDATE attempts SET forwarded = 0"));
    }
    EXPECT_EQ(OpenRecords(cluster.Url(), local)->Finish(notice, kGenerous), 0);
    const std::map<std::string, int> devices = PlantDevices(cluster.Url());
    std::printf("records made: 50, records in PostgreSQL: %zu, duplicates: %d\n", devices.size(),
                Duplicates(devices));
    EXPECT_EQ(devices.size(), 50u);
    EXPECT_EQ(Duplicates(devices), 0);
}

TEST_F(PlantRecordsTest, WrongPasswordIsRefusedAndAnUnreachableServerIsSaidSo) {
    PgCluster cluster;
    ASSERT_TRUE(cluster.Ok());
    struct Case {
        std::string url;
        StoreStatus writing;  // opening to record; Ok: the records are kept locally meanwhile
        StoreStatus reading;
        const char* says;
    };
    const Case cases[] = {
        {cluster.Url("wrong"), StoreStatus::Refused, StoreStatus::Refused,
         "password authentication failed"},
        {"postgresql://flashwright@127.0.0.1:" + std::to_string(PgCluster::FreePort()) + "/plant",
         StoreStatus::Ok, StoreStatus::Unreachable, "is unreachable"},
    };
    for (const Case& c : cases) {
        StoreError error;
        std::string notice;
        const auto records = AttemptRecords::Open(c.url, error, notice, Local("s.sqlite"));
        EXPECT_EQ(error.status, c.writing) << c.url;
        EXPECT_NE((error.message + notice).find(c.says), std::string::npos) << error.message;
        EXPECT_EQ(records == nullptr, c.writing != StoreStatus::Ok);
        EXPECT_EQ(RecordReader::Open(c.url, error), nullptr);
        EXPECT_EQ(error.status, c.reading) << c.url;
        EXPECT_NE(error.message.find(c.says), std::string::npos) << error.message;
    }
    EXPECT_EQ(ExitStatusOf(StoreStatus::Refused), 77);
    EXPECT_EQ(ExitStatusOf(StoreStatus::Unreachable), 69);
}
