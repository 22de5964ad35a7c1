#include "records/plant_watchdog.h"

#include <sys/socket.h>

PlantWatchdog::PlantWatchdog() : thread_([this](const std::stop_token& stop) { Run(stop); }) {}

PlantWatchdog::~PlantWatchdog() {
    thread_.request_stop();  // wakes Run through its stop token
    thread_.join();
}

void PlantWatchdog::Watch(int socket) {
    const std::lock_guard hold(mutex_);
    socket_ = socket;
    fired_ = false;
    deadline_.reset();
    if (aborted_) {
        ShutDown();
    }
}

void PlantWatchdog::Arm(std::chrono::milliseconds limit) {
    {
        const std::lock_guard hold(mutex_);
        deadline_ = std::chrono::steady_clock::now() + limit;
    }
    changed_.notify_all();
}

void PlantWatchdog::Disarm() {
    {
        const std::lock_guard hold(mutex_);
        deadline_.reset();
    }
    changed_.notify_all();
}

void PlantWatchdog::Abort() {
    const std::lock_guard hold(mutex_);
    aborted_ = true;
    ShutDown();
}

bool PlantWatchdog::Fired() const {
    const std::lock_guard hold(mutex_);
    return fired_;
}

void PlantWatchdog::ShutDown() {
    if (socket_ >= 0 && !fired_) {
        // The descriptor stays open (libpq closes it): the blocked read or write returns.
        ::shutdown(socket_, SHUT_RDWR);
        fired_ = true;
    }
}

void PlantWatchdog::Run(const std::stop_token& stop) {
    std::unique_lock lock(mutex_);
    while (!stop.stop_requested()) {
        if (!deadline_) {
            changed_.wait(lock, stop, [&] { return deadline_.has_value(); });
            continue;
        }
        const auto deadline = *deadline_;
        if (!changed_.wait_until(lock, stop, deadline, [&] { return deadline_ != deadline; })) {
            if (!stop.stop_requested()) {
                ShutDown();
                deadline_.reset();
            }
        }
    }
}
