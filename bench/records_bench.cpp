// The records benchmark: how long one attempt's record takes to write (its row at the start and
// its completion at the end, each a transaction of its own), and how long the real program's
// "records --summary" takes over 100 000 records.

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QSqlQuery>
#include <QVariant>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "records/record_store.h"
#include "records/sql_connection.h"
#include "records/utc_time.h"

namespace {

constexpr int kWrites = 1000;
constexpr double kWriteGoalMs = 2.0;
constexpr int kSummaryRecords = 100000;
constexpr int kSummaryDays = 30;
constexpr int kSummaryFiles = 4;
constexpr int kSummaryDevices = 800;
constexpr double kSummaryGoalMs = 1000.0;
constexpr int kSummaryRuns = 5;

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

AttemptRecord Sample(int i) {
    AttemptRecord r;
    r.startedUtc = UtcNow();
    r.station = "bench";
    r.link = "UDP";
    r.device = "127.0.0." + std::to_string(i % 250 + 1);
    r.fileName = "image.enc";
    r.fileSize = 82516;
    r.fileSha256 = std::string(64, "0123"[i % kSummaryFiles]);
    return r;
}

// The median time of Begin and Complete of one attempt on a fresh database.
bool MeasureWrites(const std::string& path) {
    StoreError error;
    const auto store = RecordStore::Open(path, error);
    if (store == nullptr) {
        std::fprintf(stderr, "%s\n", error.message.c_str());
        return false;
    }
    std::vector<double> times;
    for (int i = 0; i < kWrites; ++i) {
        AttemptRecord r = Sample(i);
        const auto start = Clock::now();
        const auto id = store->Begin(r);
        r.state = AttemptState::Finished;
        r.resultCode = 0;
        if (!id || !store->Complete(*id, r)) {
            std::fprintf(stderr, "write %d failed\n", i + 1);
            return false;
        }
        times.push_back(MsSince(start));
    }
    const double median = Median(times);
    std::printf("record write (Begin + Complete), median of %d: %.3f ms (goal <= %.1f ms) %s\n",
                kWrites, median, kWriteGoalMs, median <= kWriteGoalMs ? "met" : "MISSED");
    return true;
}

// Fills a database with the summary's records in one transaction: days, files and devices
// spread as a line would see them, one attempt in ten failed.
bool Fill(const std::string& path) {
    {
        StoreError error;
        if (RecordStore::Open(path, error) == nullptr) {  // the layout
            std::fprintf(stderr, "%s\n", error.message.c_str());
            return false;
        }
    }
    SqlConnection connection(QString::fromStdString(path), {});
    if (!connection.Open() || !connection.Db().transaction()) {
        return false;
    }
    QSqlQuery insert(connection.Db());
    insert.prepare(
        "INSERT INTO attempts (started_utc, ended_utc, state, link, device, file_sha256, "
        "result_code) VALUES (?, ?, 'finished', 'UDP', ?, ?, ?)");
    for (int i = 0; i < kSummaryRecords; ++i) {
        const int day = i * kSummaryDays / kSummaryRecords + 1;
        const QString started = QString::asprintf("2026-11-%02dT%02d:%02d:%02d.000Z", day,
                                                  i / 3600 % 24, i / 60 % 60, i % 60);
        insert.addBindValue(started);
        insert.addBindValue(started);
        insert.addBindValue(QString::number(i % kSummaryDevices));
        insert.addBindValue(QString(64, QChar("0123"[i % kSummaryFiles])));
        insert.addBindValue(i % 10 == 0 ? -15 : 0);
        if (!insert.exec()) {
            return false;
        }
    }
    return connection.Db().commit();
}

// Runs "flashwright records --summary" with its output thrown away; its exit status.
int RunSummary(const std::string& path) {
    std::vector<std::string> args{FLASHWRIGHT_PROGRAM, "records", "--records", path, "--summary"};
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || ::waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool MeasureSummary(const std::string& path) {
    if (!Fill(path)) {
        std::fprintf(stderr, "the summary's records cannot be written\n");
        return false;
    }
    std::vector<double> times;
    for (int i = 0; i < kSummaryRuns; ++i) {
        const auto start = Clock::now();
        if (const int status = RunSummary(path); status != 0) {
            std::fprintf(stderr, "records --summary exited with status %d\n", status);
            return false;
        }
        times.push_back(MsSince(start));
        std::printf("records --summary over %d records, run %d: %.0f ms\n", kSummaryRecords, i + 1,
                    times.back());
    }
    const double median = Median(times);
    std::printf("records --summary, median: %.0f ms (goal <= %.0f ms) %s\n", median, kSummaryGoalMs,
                median <= kSummaryGoalMs ? "met" : "MISSED");
    return true;
}

}  // namespace

int main() {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("flashwright-records-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const bool measured = MeasureWrites((folder / "writes.sqlite").string()) &&
                          MeasureSummary((folder / "summary.sqlite").string());
    std::filesystem::remove_all(folder);
    return measured ? 0 : 1;
}
