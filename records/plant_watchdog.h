#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <stop_token>
#include <thread>

// Guards the statements on one plant database connection from a thread of its own: when a
// statement outlasts its limit, or the connection is aborted, the connection's socket is shut
// down, so a server or network that stops answering cannot hold the caller; the statement then
// fails as on a closed connection. TCP alone does not notice a peer that still acknowledges
// (a stuck proxy) or notices a black hole only after minutes.
class PlantWatchdog {
  public:
    PlantWatchdog();
    ~PlantWatchdog();
    PlantWatchdog(const PlantWatchdog&) = delete;
    PlantWatchdog& operator=(const PlantWatchdog&) = delete;

    // The socket of the open connection; -1 before it closes. One aborted before is shut down
    // at once.
    void Watch(int socket);
    // A statement starts: the socket is shut down unless Disarm comes within `limit`.
    void Arm(std::chrono::milliseconds limit);
    void Disarm();
    // Shuts down the watched socket now and every socket watched from now on.
    void Abort();
    // Whether the watched socket was shut down.
    bool Fired() const;

  private:
    void Run(const std::stop_token& stop);
    void ShutDown();  // with mutex_ held

    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    int socket_ = -1;
    std::optional<std::chrono::steady_clock::time_point> deadline_;
    bool aborted_ = false;
    bool fired_ = false;
    std::jthread thread_;  // last: it starts once the rest is there
};
