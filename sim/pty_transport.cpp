#include "sim/pty_transport.h"

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <utility>

namespace {

using Clock = std::chrono::steady_clock;

// The longest the loop sleeps, so a stop request and idle sessions are noticed in time.
constexpr auto kMaxWait = std::chrono::milliseconds(20);
// The bootloader drops a half-received frame after this long without bytes; after such a
// pause the stream is between frames again, where a device command may start (no frame
// starts with 0xFD: its length would exceed the largest frame).
constexpr auto kQuietGap = std::chrono::milliseconds(200);

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

PtySimServer::PtySimServer(SimOptions options, unsigned baud, std::string linkPath)
    : linkPath_(std::move(linkPath)), sim_(std::move(options), SimMs(Clock::now())), line_(baud) {}

PtySimServer::~PtySimServer() {
    Stop();
    if (linkMade_) {
        ::unlink(linkPath_.c_str());
    }
}

bool PtySimServer::Open(std::string& error) {
    if (!pty_.Open(error)) {
        return false;
    }
    if (!linkPath_.empty()) {
        struct stat st {};
        if (::lstat(linkPath_.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = linkPath_ + " exists and is not a symbolic link";
                return false;
            }
            ::unlink(linkPath_.c_str());
        }
        if (::symlink(pty_.Path().c_str(), linkPath_.c_str()) != 0) {
            error = SystemError("cannot link " + linkPath_);
            return false;
        }
        linkMade_ = true;
    }
    // The device starts when it is switched on, which is now.
    std::lock_guard lock(mutex_);
    sim_.Restart(SimMs(Clock::now()));
    return true;
}

void PtySimServer::Run(const std::atomic<bool>& stop, const SummaryHandler& onSummary) {
    while (!stop.load()) {
        pollfd pfd{pty_.Master(), POLLIN, 0};
        line_.Wait(std::span(&pfd, 1), kMaxWait);
        const Clock::time_point now = Clock::now();
        if (pfd.revents & POLLIN) {
            line_.Receive(pty_.Master(), now);
        }
        TakeArrivals(now);
        line_.SendDue(pty_.Master(), now);
        ReportSessions(onSummary, false);
    }
    ReportSessions(onSummary, true);
}

void PtySimServer::TakeArrivals(Clock::time_point now) {
    while (const std::optional<SimulatedLine::Arrival> arrival = line_.TakeArrival(now)) {
        Feed(arrival->bytes, arrival->at);
    }
}

void PtySimServer::Feed(std::span<const std::uint8_t> bytes, Clock::time_point at) {
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> run;  // bytes for the bootloader, in order
    const auto flush = [&] {
        FeedStream(run, at);
        run.clear();
    };
    for (const std::uint8_t b : bytes) {
        if (!heldCommand_.empty()) {
            if (b == kDeviceCommand[heldCommand_.size()]) {
                heldCommand_.push_back(b);
                if (heldCommand_.size() == std::size(kDeviceCommand)) {
                    // The application restarts into its bootloader: replies still due from
                    // before are never sent.
                    ++deviceCommands_;
                    heldCommand_.clear();
                    sim_.Restart(SimMs(at));
                    line_.DropDepartures();
                }
                continue;
            }
            // Not the command after all: the held bytes go on as they came.
            run.insert(run.end(), heldCommand_.begin(), heldCommand_.end());
            heldCommand_.clear();
        }
        if (b == kDeviceCommand[0]) {
            flush();
            // Only between frames: inside a frame these bytes are frame data.
            if (sim_.CurrentState() != BootloaderSim::State::ReceivingFrames ||
                sim_.BetweenFrames() || at - lastFed_ > kQuietGap) {
                heldCommand_.push_back(b);
                continue;
            }
        }
        run.push_back(b);
    }
    flush();
    lastFed_ = at;
}

void PtySimServer::FeedStream(std::span<const std::uint8_t> bytes, Clock::time_point at) {
    if (bytes.empty()) {
        return;
    }
    const std::uint64_t atMs = SimMs(at);
    for (SimOutput& out : sim_.OnStreamBytes(bytes, atMs)) {
        line_.Depart(std::move(out.bytes), at + std::chrono::milliseconds(out.atMs - atMs));
    }
}

void PtySimServer::ReportSessions(const SummaryHandler& onSummary, bool final) {
    ReportEndedSessions(mutex_, sim_, SimMs(Clock::now()), final, onSummary);
}

unsigned PtySimServer::DeviceCommands() const {
    std::lock_guard lock(mutex_);
    return deviceCommands_;
}

bool PtySimServer::Start(std::string& error, SummaryHandler onSummary) {
    if (!Open(error)) {
        return false;
    }
    stop_ = false;
    thread_ = std::thread([this, handler = std::move(onSummary)] { Run(stop_, handler); });
    return true;
}

void PtySimServer::Stop() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}
