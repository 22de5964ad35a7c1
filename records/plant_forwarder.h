#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>

#include <QThread>

#include "records/plant_database.h"
#include "records/plant_status.h"
#include "records/store_status.h"

class RecordStore;

// An unreachable plant database is tried again this long after the last try.
inline constexpr std::chrono::milliseconds kPlantRetry{5000};
// At the end of a session the program waits at most this long for the waiting attempts to go.
inline constexpr std::chrono::milliseconds kPlantDrain{10000};

// Sends the ended attempts of a local store to a plant database on a thread of its own, oldest
// first, and marks each forwarded in the store only after the server has committed it. A send
// whose commit was not acknowledged is sent again, and the plant database keeps the attempt
// once by its uuid. While the server is away the attempts wait in the store, also across
// sessions: the next forwarder on that store sends them.
class PlantForwarder {
  public:
    // Connects (creating the layout when missing) before it returns. Nothing, with `error` set,
    // when the server refused the login or holds a layout this program does not know; an
    // unreachable server gives a forwarder that keeps trying every `retry`, with `error` saying
    // so (status Unreachable).
    static std::unique_ptr<PlantForwarder> Start(RecordStore& store, const PlantUrl& url,
                                                 std::chrono::milliseconds retry,
                                                 StoreError& error);
    ~PlantForwarder();  // stops at once, aborting a call in flight; what waits stays in the store
    PlantForwarder(const PlantForwarder&) = delete;
    PlantForwarder& operator=(const PlantForwarder&) = delete;

    // An attempt has ended: it is sent soon.
    void Wake();
    // `listener` is called now and, from the forwarder's thread, whenever the connection comes
    // or goes, the count of waiting attempts changes while the server is away, or the queue
    // runs empty. An empty one stops the calls.
    void OnStatus(std::function<void(const PlantStatus&)> listener);
    PlantStatus Status() const;
    // Waits up to `limit` until every ended attempt is there, trying an unreachable server once
    // more at once; returns early when that try or a send fails. The count still waiting, as
    // last seen.
    std::int64_t Drain(std::chrono::milliseconds limit);

  private:
    PlantForwarder(RecordStore& store, const PlantUrl& url, std::chrono::milliseconds retry);
    void Serve(std::promise<StoreError>& started);
    // Sends one batch; false when there was nothing to send or it failed.
    bool SendBatch();
    // Counts the attempts waiting, for the status.
    void Recount();
    void Publish();

    RecordStore& store_;
    const PlantUrl url_;
    const std::chrono::milliseconds retry_;
    PlantConnection connection_;  // used on the forwarder's thread; aborted from any
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    PlantStatus status_;
    std::uint64_t wakes_ = 0;     // Wake calls
    std::uint64_t looked_ = 0;    // wakes seen when the store was last read
    std::uint64_t failures_ = 0;  // failed connections and sends
    bool retryNow_ = false;
    bool stopping_ = false;
    std::mutex listenerMutex_;
    std::function<void(const PlantStatus&)> listener_;
    PlantStatus published_;
    std::unique_ptr<QThread> thread_;
};
