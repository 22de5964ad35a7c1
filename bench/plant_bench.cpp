// The plant database benchmark, on a private PostgreSQL server that commits to disk: how many
// records a second reach the plant database, once as a station makes them (each written to the
// local store, then forwarded) and once as a backlog a station sends when the server is back.

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "records/attempt_records.h"
#include "tests/records/pg_cluster.h"

namespace {

constexpr int kLive = 2000;
constexpr int kBacklog = 10000;
constexpr std::chrono::milliseconds kBound{120000};

using Clock = std::chrono::steady_clock;

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Write(AttemptLog& records, int count) {
    for (int i = 0; i < count; ++i) {
        AttemptRecord r;
        r.station = "bench";
        r.link = "UDP";
        r.device = "127.0.0." + std::to_string(i % 250 + 1);
        r.fileName = "image.enc";
        r.fileSize = 82516;
        r.fileSha256 = std::string(64, 'a');
        const auto id = records.Begin(r);
        r.state = AttemptState::Finished;
        r.resultCode = 0;
        r.framesSent = 149;
        r.message = "Programming successful";
        if (!id || !records.Complete(*id, r)) {
            return false;
        }
    }
    return true;
}

std::unique_ptr<AttemptRecords> Open(const std::string& target, const std::string& local) {
    StoreError error;
    std::string notice;
    auto records = AttemptRecords::Open(target, error, notice, local);
    if (records == nullptr || !notice.empty()) {
        std::fprintf(stderr, "%s%s\n", error.message.c_str(), notice.c_str());
        return nullptr;
    }
    return records;
}

// Records per second from the first record made to the last one committed in the plant.
bool Report(const char* what, int count, Clock::time_point start, AttemptRecords& records) {
    std::string notice;
    if (records.Finish(notice, kBound) != 0) {
        std::fprintf(stderr, "%s\n", notice.c_str());
        return false;
    }
    const double seconds = SecondsSince(start);
    std::printf("plant database, %s: %d records in %.2f s, %.0f records/s\n", what, count, seconds,
                count / seconds);
    return true;
}

bool Measure(const PgCluster& cluster, const std::filesystem::path& folder) {
    const std::string live = (folder / "live.sqlite").string();
    auto records = Open(cluster.Url(), live);
    auto start = Clock::now();
    if (records == nullptr || !Write(*records, kLive) ||
        !Report("as the records are made", kLive, start, *records)) {
        return false;
    }
    const std::string waiting = (folder / "backlog.sqlite").string();
    records = Open(waiting, waiting);  // written while no plant database is named
    if (records == nullptr || !Write(*records, kBacklog)) {
        return false;
    }
    records.reset();
    start = Clock::now();
    records = Open(cluster.Url(), waiting);
    return records != nullptr && Report("a backlog sent", kBacklog, start, *records);
}

}  // namespace

int main() {
    if (const std::string missing = PgCluster::Missing(); !missing.empty()) {
        std::fprintf(stderr, "%s\n", missing.c_str());
        return 1;
    }
    PgCluster cluster(true);
    if (!cluster.Ok()) {
        std::fprintf(stderr, "the private PostgreSQL server did not start\n");
        return 1;
    }
    const auto folder = std::filesystem::temp_directory_path() /
                        ("flashwright-plant-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const bool measured = Measure(cluster, folder);
    std::filesystem::remove_all(folder);
    return measured ? 0 : 1;
}
