#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <QThread>

#include "log/unique_fd.h"
#include "records/attempt_record.h"
#include "records/lot_tally.h"
#include "records/store_status.h"

// The records database a program writes when no path is given:
// $XDG_STATE_HOME/flashwright/records.sqlite, by default ~/.local/state/flashwright/.
std::string DefaultRecordsPath();

// The attempts of this program, written into an SQLite database. One program at a time writes
// a database: it holds an exclusive lock on the file beside the database's real path (symbolic
// links resolved: "<real path>.lock") for as long as its store lives. Every call may come from any
// thread: one writer thread owns the connection and carries out the calls in turn while their
// callers wait.
class RecordStore final : public AttemptLog {
  public:
    // Opens the database at `path` (its folder and the database are made when missing) for
    // writing, and marks every attempt still running in it as interrupted: the program that
    // wrote it was killed. Nothing, with `error` set, when that fails.
    static std::unique_ptr<RecordStore> Open(const std::string& path, StoreError& error);
    ~RecordStore() override;
    RecordStore(const RecordStore&) = delete;
    RecordStore& operator=(const RecordStore&) = delete;

    std::optional<std::int64_t> Begin(const AttemptRecord& record) override;
    bool Complete(std::int64_t id, const AttemptRecord& record) override;

    const std::string& Path() const { return path_; }

    // Sets the hook's outcome of the attempt `uuid`, which arrives after its record was
    // written; the row changes, so it is forwarded again. False when no such attempt is
    // recorded or the write failed.
    bool SetHook(const std::string& uuid, const std::string& hook);
    // The tally of the lot `lot` from every attempt recorded with it; none when the database
    // cannot be read.
    std::optional<LotTally> Tally(const std::string& lot);

    // The plant database (its URL without the password) the attempts begun from now on are
    // meant for; none (empty) by default. Set before the first Begin.
    void ForwardTo(std::string plant) { plant_ = std::move(plant); }

    // An attempt waiting to be forwarded to a plant database, with its row's id and revision.
    struct Waiting {
        std::int64_t id = 0;
        std::int64_t revision = 0;
        AttemptRecord record;
    };
    // The ended attempts meant for the plant database `plant` that are not forwarded in their
    // latest revision, oldest row first, at most `limit` of them, and in `total` how many wait
    // in all. False when the database cannot be read.
    bool TakeWaiting(const std::string& plant, std::size_t limit, std::vector<Waiting>& batch,
                     std::int64_t& total);
    // Marks the rows of `sent` forwarded, each only if it has not changed since it was taken,
    // in one transaction.
    bool MarkForwarded(std::span<const Waiting> sent);

  private:
    struct Job {
        std::function<void()> work;
        bool done = false;
    };
    class Writer;

    RecordStore(std::string path, UniqueFd lock, std::string lockPath);
    // Runs `work` on the writer thread and returns when it has run.
    void OnWriter(std::function<void()> work);
    void Serve(std::promise<StoreError>& opened);

    const std::string path_;
    const UniqueFd lock_;
    const std::string lockPath_;
    std::string plant_;
    std::unique_ptr<Writer> writer_;  // the connection; lives on the writer thread only
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<Job*> jobs_;
    bool stopping_ = false;
    // A thread Qt starts: the connection it owns is cleaned up with it, as Qt does not do for
    // a thread it did not start.
    std::unique_ptr<QThread> thread_;
};
