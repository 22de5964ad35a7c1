#include "records/plant_forwarder.h"

#include <vector>

#include "records/record_store.h"

namespace {

// The attempts sent in one transaction.
constexpr std::size_t kForwardBatch = 200;

}  // namespace

std::unique_ptr<PlantForwarder> PlantForwarder::Start(RecordStore& store, const PlantUrl& url,
                                                      std::chrono::milliseconds retry,
                                                      StoreError& error) {
    std::unique_ptr<PlantForwarder> forwarder(new PlantForwarder(store, url, retry));
    std::promise<StoreError> started;
    std::future<StoreError> result = started.get_future();
    forwarder->thread_.reset(QThread::create(
        [&f = *forwarder, started = std::move(started)]() mutable { f.Serve(started); }));
    forwarder->thread_->start();
    error = result.get();
    if (error.status != StoreStatus::Ok && error.status != StoreStatus::Unreachable) {
        return nullptr;  // the thread has ended; the destructor joins it
    }
    return forwarder;
}

PlantForwarder::PlantForwarder(RecordStore& store, const PlantUrl& url,
                               std::chrono::milliseconds retry)
    : store_(store), url_(url), retry_(retry), connection_(url) {
    status_.database = url.shown;
}

PlantForwarder::~PlantForwarder() {
    {
        const std::lock_guard hold(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    connection_.Abort();
    if (thread_ != nullptr) {
        thread_->wait();
    }
}

void PlantForwarder::Wake() {
    {
        const std::lock_guard hold(mutex_);
        ++wakes_;
    }
    changed_.notify_all();
}

PlantStatus PlantForwarder::Status() const {
    const std::lock_guard hold(mutex_);
    return status_;
}

void PlantForwarder::OnStatus(std::function<void(const PlantStatus&)> listener) {
    const std::lock_guard hold(listenerMutex_);
    listener_ = std::move(listener);
    published_ = Status();
    if (listener_) {
        listener_(published_);
    }
}

void PlantForwarder::Publish() {
    const PlantStatus now = Status();
    const std::lock_guard hold(listenerMutex_);
    // While connected, an attempt that waits for a moment is not news; an empty queue is.
    const bool news = now.connected != published_.connected || now.problem != published_.problem ||
                      (now.waiting != published_.waiting && (!now.connected || now.waiting == 0));
    if (!news) {
        return;
    }
    published_ = now;
    if (listener_) {
        listener_(now);
    }
}

std::int64_t PlantForwarder::Drain(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    const std::uint64_t wakes = ++wakes_;  // the store is read once more after this
    const std::uint64_t failures = failures_;
    retryNow_ = true;
    changed_.notify_all();
    changed_.wait_for(lock, limit, [&] {
        return (looked_ >= wakes && status_.waiting == 0) || failures_ != failures || stopping_;
    });
    return status_.waiting;
}

void PlantForwarder::Recount() {
    std::uint64_t wakes = 0;
    {
        const std::lock_guard hold(mutex_);
        wakes = wakes_;
    }
    std::vector<RecordStore::Waiting> none;
    std::int64_t total = 0;
    const bool read = store_.TakeWaiting(url_.shown, 0, none, total);
    {
        const std::lock_guard hold(mutex_);
        status_.waiting = read ? total : status_.waiting;
        looked_ = wakes;
    }
    changed_.notify_all();
    Publish();
}

bool PlantForwarder::SendBatch() {
    std::uint64_t wakes = 0;
    {
        const std::lock_guard hold(mutex_);
        wakes = wakes_;
    }
    std::vector<RecordStore::Waiting> batch;
    std::int64_t total = 0;
    // A store that cannot be read is read again at the next wake or retry.
    const bool read = store_.TakeWaiting(url_.shown, kForwardBatch, batch, total);
    {
        const std::lock_guard hold(mutex_);
        status_.waiting = read ? total : status_.waiting;
        looked_ = wakes;
    }
    changed_.notify_all();
    Publish();
    if (batch.empty()) {
        return false;
    }
    std::vector<AttemptRecord> records;
    for (RecordStore::Waiting& waiting : batch) {
        records.push_back(std::move(waiting.record));
    }
    const StoreError error = connection_.Insert(records);
    if (error.status != StoreStatus::Ok) {
        connection_.Close();
        {
            const std::lock_guard hold(mutex_);
            status_.connected = false;
            status_.problem = error.message;
            ++failures_;
            retryNow_ = false;  // a drain ends on this failure: no try may outlast it
        }
        changed_.notify_all();
        Publish();
        return false;
    }
    // Committed: should marking them fail, they are only sent again and kept once; a row that
    // changed meanwhile stays waiting in its new revision.
    store_.MarkForwarded(batch);
    return true;
}

void PlantForwarder::Serve(std::promise<StoreError>& started) {
    {
        StoreError error = connection_.Open(true);
        const bool fatal =
            error.status != StoreStatus::Ok && error.status != StoreStatus::Unreachable;
        {
            const std::lock_guard hold(mutex_);
            status_.connected = error.status == StoreStatus::Ok;
            status_.problem = status_.connected ? "" : error.message;
        }
        const bool away = error.status == StoreStatus::Unreachable;
        started.set_value(std::move(error));
        if (fatal) {
            return;
        }
        if (away) {
            Recount();  // what earlier sessions left waits too
        }
    }
    auto lastTry = std::chrono::steady_clock::now();
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!status_.connected) {
            // Away: wait for the next try, counting what waits whenever an attempt ends.
            const std::uint64_t seen = looked_;
            const bool woken = changed_.wait_until(
                lock, lastTry + retry_, [&] { return stopping_ || retryNow_ || wakes_ != seen; });
            if (stopping_) {
                break;
            }
            if (woken && !retryNow_) {
                lock.unlock();
                Recount();
                lock.lock();
                continue;
            }
            retryNow_ = false;
            lock.unlock();
            const StoreError error = connection_.Open(true);
            lastTry = std::chrono::steady_clock::now();
            {
                const std::lock_guard hold(mutex_);
                status_.connected = error.status == StoreStatus::Ok;
                status_.problem = status_.connected ? "" : error.message;
                failures_ += status_.connected ? 0 : 1;
                retryNow_ = false;
            }
            Recount();
            lock.lock();
            continue;
        }
        lock.unlock();
        const bool sent = SendBatch();
        lock.lock();
        if (!sent && status_.connected) {
            const std::uint64_t seen = looked_;
            changed_.wait_for(lock, retry_, [&] { return stopping_ || wakes_ != seen; });
        } else if (!status_.connected) {
            lastTry = std::chrono::steady_clock::now();
        }
    }
    connection_.Close();  // on the thread that opened it
}
