#include "sim/bus_sim_server.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <utility>

#include "links/simbus/bus_folder.h"
#include "links/simbus/tty_line_speed.h"

namespace {

using Clock = std::chrono::steady_clock;

// The longest the loop sleeps, so scripted plug changes and idle sessions are noticed in time.
constexpr auto kMaxWait = std::chrono::milliseconds(20);
// How long a caller waits for the serving thread to carry out a plug change.
constexpr auto kRequestWait = std::chrono::seconds(5);

// A receiver at another rate than the sender's sees framing noise, mostly zero bytes; a zero
// byte becomes 0x80 so every garbled byte differs from what was sent. None of these is a
// start byte of either protocol.
std::uint8_t Garble(std::uint8_t b) {
    return b == 0x00 ? 0x80 : 0x00;
}

}  // namespace

BusSimServer::BusSimServer(std::string busFolder, BusSimSettings settings)
    : busFolder_(std::move(busFolder)),
      settings_(std::move(settings)),
      line_(settings_.baud),
      sim_(settings_.bootloader, SimMs(Clock::now())) {}

BusSimServer::~BusSimServer() {
    Stop();
}

bool BusSimServer::Start(std::string& error, SummaryHandler onSummary) {
    Stop();
    wake_.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
    if (!wake_.Valid() || !PlugIn(error)) {
        if (error.empty()) {
            error = "cannot make the wake-up descriptor";
        }
        PlugOut();
        return false;
    }
    {
        // The device is switched on now, in the mode it was configured to start in.
        std::lock_guard lock(mutex_);
        inBootloader_ = !settings_.startInApplication;
    }
    startedAt_ = Clock::now();
    unplugScripted_ = replugScripted_ = false;
    stop_ = false;
    thread_ = std::thread([this, handler = std::move(onSummary)] { Serve(handler); });
    return true;
}

void BusSimServer::Stop() {
    stop_ = true;
    if (thread_.joinable()) {
        const std::uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = ::write(wake_.Get(), &one, sizeof one);
        thread_.join();
    }
    PlugOut();
}

void BusSimServer::Unplug() {
    Request(PlugRequest::kUnplug);
}

bool BusSimServer::Replug() {
    return Request(PlugRequest::kReplug);
}

bool BusSimServer::Request(PlugRequest request) {
    if (!thread_.joinable()) {
        if (request == PlugRequest::kUnplug) {
            PlugOut();
            return true;
        }
        std::string error;
        return PlugIn(error);
    }
    std::unique_lock lock(requestMutex_);
    request_ = request;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_.Get(), &one, sizeof one);
    const bool done = requestDone_.wait_for(lock, kRequestWait,
                                            [this] { return request_ == PlugRequest::kNone; });
    return done && requestResult_;
}

void BusSimServer::TakeRequest() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_.Get(), &count, sizeof count);
    std::lock_guard lock(requestMutex_);
    if (request_ == PlugRequest::kNone) {
        return;
    }
    std::string error;
    if (request_ == PlugRequest::kUnplug) {
        PlugOut();
        requestResult_ = true;
    } else {
        requestResult_ = PlugIn(error);
    }
    request_ = PlugRequest::kNone;
    requestDone_.notify_all();
}

void BusSimServer::RunScript(Clock::time_point now) {
    const auto due = [&](const std::optional<unsigned>& ms) {
        return ms && now - startedAt_ >= std::chrono::milliseconds(*ms);
    };
    if (!unplugScripted_ && due(settings_.unplugAfterMs)) {
        unplugScripted_ = true;
        PlugOut();
    }
    if (unplugScripted_ && !replugScripted_ && due(settings_.replugAfterMs)) {
        replugScripted_ = true;
        std::string error;
        PlugIn(error);
    }
}

bool BusSimServer::PlugIn(std::string& error) {
    if (Plugged()) {
        return true;
    }
    if (!pty_.Open(error)) {
        pty_.Close();
        return false;
    }
    if (!PlugBusDevice(busFolder_, {settings_.description, settings_.serial, pty_.Path()}, error)) {
        pty_.Close();
        return false;
    }
    line_.Clear();
    std::lock_guard lock(mutex_);
    // A device that comes back starts in its bootloader.
    sim_.Restart(SimMs(Clock::now()));
    ResetApplication();
    inBootloader_ = true;
    plugged_ = true;
    ttyPath_ = pty_.Path();
    return true;
}

void BusSimServer::PlugOut() {
    if (!pty_.IsOpen()) {
        return;  // not plugged in: the bus file, if any, is another device's
    }
    // The file goes first: a host that finds its device gone must not find it listed.
    UnplugBusDevice(busFolder_, settings_.serial);
    pty_.Close();
    line_.Clear();
    std::lock_guard lock(mutex_);
    plugged_ = false;
}

void BusSimServer::Serve(const SummaryHandler& onSummary) {
    while (!stop_.load()) {
        std::array<pollfd, 2> fds{pollfd{wake_.Get(), POLLIN, 0},
                                  pollfd{pty_.IsOpen() ? pty_.Master() : -1, POLLIN, 0}};
        line_.Wait(fds, kMaxWait);
        const Clock::time_point now = Clock::now();
        if (fds[0].revents & POLLIN) {
            TakeRequest();
        }
        if (pty_.IsOpen() && (fds[1].revents & POLLIN)) {
            // The speed the host has set now is the one these bytes were sent at.
            line_.Receive(pty_.Master(), now, TtyLineSpeed(pty_.Slave()));
        }
        RunScript(now);
        TakeArrivals(now);
        {
            std::lock_guard lock(mutex_);
            if (!inBootloader_) {
                OnApplicationIdle(now);
            }
        }
        line_.SendDue(pty_.IsOpen() ? pty_.Master() : -1, now);
        ReportSessions(onSummary, false);
    }
    ReportSessions(onSummary, true);
}

void BusSimServer::TakeArrivals(Clock::time_point now) {
    while (std::optional<SimulatedLine::Arrival> arrival = line_.TakeArrival(now)) {
        Feed(std::move(arrival->bytes), arrival->hostBaud, arrival->at);
    }
}

void BusSimServer::Feed(std::vector<std::uint8_t> bytes, std::optional<std::uint32_t> hostBaud,
                        Clock::time_point at) {
    std::vector<std::vector<std::uint8_t>> answers;
    std::vector<SimOutput> replies;
    {
        std::lock_guard lock(mutex_);
        const std::optional<std::uint32_t> deviceBaud =
            inBootloader_ ? kBootloaderBaud : ApplicationBaud();
        if (deviceBaud && hostBaud != deviceBaud) {
            std::ranges::transform(bytes, bytes.begin(), Garble);
            garbled_ += static_cast<unsigned>(bytes.size());
        }
        if (inBootloader_) {
            replies = sim_.OnStreamBytes(bytes, SimMs(at));
        } else {
            ApplicationOutput out = OnApplicationBytes(bytes, at);
            answers = std::move(out.answers);
            if (out.enterBootloader) {
                // The rest of these bytes reach a device that is restarting: they are lost.
                sim_.Restart(SimMs(at));
                inBootloader_ = true;
            }
        }
    }
    for (std::vector<std::uint8_t>& answer : answers) {
        line_.Depart(std::move(answer), at);
    }
    for (SimOutput& reply : replies) {
        line_.Depart(std::move(reply.bytes),
                     at + std::chrono::milliseconds(reply.atMs - SimMs(at)));
    }
}

void BusSimServer::ReportSessions(const SummaryHandler& onSummary, bool final) {
    ReportEndedSessions(mutex_, sim_, SimMs(Clock::now()), final, onSummary);
}

bool BusSimServer::Plugged() const {
    std::lock_guard lock(mutex_);
    return plugged_;
}

bool BusSimServer::InBootloader() const {
    std::lock_guard lock(mutex_);
    return inBootloader_;
}

std::string BusSimServer::TtyPath() const {
    std::lock_guard lock(mutex_);
    return ttyPath_;
}

unsigned BusSimServer::GarbledBytes() const {
    std::lock_guard lock(mutex_);
    return garbled_;
}
