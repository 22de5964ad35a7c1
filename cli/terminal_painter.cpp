#include "cli/terminal_painter.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <cerrno>

namespace {

// Frames follow each other at most this often; the latest state is drawn at the next one.
constexpr auto kFrameInterval = std::chrono::milliseconds(100);
// Without a change a frame is still drawn this often: times run on and departed rows go.
constexpr auto kIdleFrameInterval = std::chrono::milliseconds(1000);
// How long one wait for a terminal that does not drain lasts before the painter checks
// whether it should stop.
constexpr int kDrainPollMs = 100;

// A description of the terminal of our own, made non-blocking: setting O_NONBLOCK on the
// inherited one would change it for the shell and every other program sharing it.
UniqueFd OpenNonBlocking(int terminal) {
    std::array<char, 256> name{};
    if (terminal < 0 || ::ttyname_r(terminal, name.data(), name.size()) != 0) {
        return UniqueFd();
    }
    return UniqueFd(::open(name.data(), O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
}

}  // namespace

TerminalPainter::TerminalPainter(int terminal, std::function<std::string()> render)
    : terminal_(OpenNonBlocking(terminal)), render_(std::move(render)) {
    if (terminal_.Valid()) {
        thread_ = std::jthread([this](const std::stop_token& stop) { Run(stop); });
    } else {
        ended_ = true;
    }
}

TerminalPainter::~TerminalPainter() = default;

void TerminalPainter::Request() {
    {
        const std::lock_guard hold(mutex_);
        ++requested_;
    }
    changed_.notify_all();
}

bool TerminalPainter::Flush(std::chrono::milliseconds limit) {
    std::unique_lock hold(mutex_);
    const std::uint64_t wanted = ++requested_;
    changed_.notify_all();
    changed_.wait_for(hold, limit, [&] { return ended_ || drawn_ >= wanted; });
    return drawn_ >= wanted;
}

void TerminalPainter::Finish(std::chrono::milliseconds limit) {
    Flush(limit);
    thread_.request_stop();
    if (thread_.joinable()) {
        thread_.join();
    }
    const std::lock_guard hold(mutex_);
    ended_ = true;
}

void TerminalPainter::Run(const std::stop_token& stop) {
    auto lastFrame = std::chrono::steady_clock::now() - kFrameInterval;
    std::string shown;
    while (!stop.stop_requested()) {
        std::uint64_t changes = 0;
        {
            std::unique_lock hold(mutex_);
            changed_.wait_until(hold, stop, lastFrame + kFrameInterval, [] { return false; });
            changed_.wait_for(hold, stop, kIdleFrameInterval, [&] { return requested_ > drawn_; });
            changes = requested_;
        }
        if (stop.stop_requested()) {
            break;
        }
        lastFrame = std::chrono::steady_clock::now();
        const std::string frame = render_();
        if (frame != shown && !Write(frame, stop)) {
            break;
        }
        shown = frame;
        {
            const std::lock_guard hold(mutex_);
            drawn_ = changes;
        }
        changed_.notify_all();
    }
}

bool TerminalPainter::Write(std::string_view frame, const std::stop_token& stop) {
    while (!frame.empty()) {
        const ssize_t written = ::write(terminal_.Get(), frame.data(), frame.size());
        if (written > 0) {
            frame.remove_prefix(static_cast<std::size_t>(written));
            continue;
        }
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0 && errno != EAGAIN) {
            const std::lock_guard hold(mutex_);
            ended_ = true;
            changed_.notify_all();
            return false;
        }
        if (stop.stop_requested()) {
            return false;
        }
        pollfd ready{terminal_.Get(), POLLOUT, 0};
        ::poll(&ready, 1, kDrainPollMs);
    }
    return true;
}
