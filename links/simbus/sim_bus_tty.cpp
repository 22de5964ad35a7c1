#include "links/simbus/sim_bus_tty.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;

// A read time-out may be up to 2^32 ms; poll takes an int, so long waits go in slices.
constexpr long long kMaxPollMs = 1 << 30;

// The device numbers of the pseudo-terminals' device sides on Linux.
constexpr unsigned kPtySlaveMajorFirst = 136;
constexpr unsigned kPtySlaveMajorLast = 143;

}  // namespace

SimBusTtyOpen OpenSimBusTty(const std::string& path, UniqueFd& fd) {
    // O_NONBLOCK: the open itself never waits (a serial line for its carrier, a named pipe for
    // its other end). Nothing of the terminal is touched before it has passed every check.
    fd.Reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (fd.Valid() && ::isatty(fd.Get()) == 0) {
        fd.Reset();
        return SimBusTtyOpen::kNotATerminal;
    }
    struct stat st {};
    const bool usable =
        fd.Valid() && ::fstat(fd.Get(), &st) == 0 && S_ISCHR(st.st_mode) &&
        major(st.st_rdev) >= kPtySlaveMajorFirst && major(st.st_rdev) <= kPtySlaveMajorLast &&
        ::tcgetsid(fd.Get()) != ::getsid(0) && ::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0;
    const int flags = usable ? ::fcntl(fd.Get(), F_GETFL) : -1;
    termios raw{};
    if (flags < 0 || ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK) != 0 ||
        ::tcgetattr(fd.Get(), &raw) != 0) {
        fd.Reset();
        return SimBusTtyOpen::kRefused;
    }
    ::cfmakeraw(&raw);
    if (::tcsetattr(fd.Get(), TCSANOW, &raw) != 0) {
        fd.Reset();
        return SimBusTtyOpen::kRefused;
    }
    return SimBusTtyOpen::kOpened;
}

bool ReadSimBusTty(int fd, std::span<std::uint8_t> buffer, std::uint32_t timeoutMs,
                   std::uint32_t& got) {
    got = 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (got < buffer.size()) {
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(
            std::max(deadline - Clock::now(), Clock::duration::zero()));
        pollfd pfd{fd, POLLIN, 0};
        const int ready =
            ::poll(&pfd, 1, static_cast<int>(std::min<long long>(left.count(), kMaxPollMs)));
        if (ready < 0 && errno != EINTR) {
            return false;
        }
        if (ready > 0) {
            if ((pfd.revents & POLLIN) == 0) {
                return false;  // hung up: the device is gone
            }
            const ssize_t n = ::read(fd, buffer.data() + got, buffer.size() - got);
            if (n <= 0) {
                if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                    continue;
                }
                return false;
            }
            got += static_cast<std::uint32_t>(n);
        } else if (ready == 0 && Clock::now() >= deadline) {
            break;
        }
    }
    return true;
}

bool ReadSimBusTtyWaiting(int fd, std::span<std::uint8_t> buffer, std::uint32_t& got) {
    got = 0;
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, 0) <= 0 || buffer.empty()) {
        return true;  // nothing waiting
    }
    if ((pfd.revents & POLLIN) == 0) {
        return false;  // hung up
    }
    const ssize_t n = ::read(fd, buffer.data(), buffer.size());
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
        return true;
    }
    if (n <= 0) {
        return false;
    }
    got = static_cast<std::uint32_t>(n);
    return true;
}

bool WriteSimBusTty(int fd, std::span<const std::uint8_t> bytes, std::uint32_t& written) {
    written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool FlushSimBusTty(int fd, bool receive, bool transmit) {
    if (!receive && !transmit) {
        return true;
    }
    const int queue = receive && transmit ? TCIOFLUSH : (receive ? TCIFLUSH : TCOFLUSH);
    return ::tcflush(fd, queue) == 0;
}
