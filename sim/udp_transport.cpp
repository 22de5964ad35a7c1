#include "sim/udp_transport.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>

namespace {

// The longest the loop sleeps, so a stop request and idle sessions are noticed in time.
constexpr std::uint64_t kMaxPollMs = 20;
// Larger than any frame; a longer datagram is cut and then refused as malformed.
constexpr std::size_t kReceiveBufferSize = 2048;

}  // namespace

std::uint64_t SimNowMs() {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

UdpSimServer::UdpSimServer(SimOptions options, std::string address, std::uint16_t port)
    : address_(std::move(address)), port_(port), sim_(std::move(options), SimNowMs()) {}

UdpSimServer::~UdpSimServer() {
    Stop();
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool UdpSimServer::Bind(std::string& error) {
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port_);
    if (::inet_pton(AF_INET, address_.c_str(), &local.sin_addr) != 1) {
        error = "not an IPv4 address: " + address_;
        return false;
    }
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
    if (fd_ < 0 || ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error =
            "cannot bind " + address_ + ":" + std::to_string(port_) + ": " + std::strerror(errno);
        return false;
    }
    // The device starts when it is switched on, which is now.
    std::lock_guard lock(mutex_);
    sim_.Restart(SimNowMs());
    return true;
}

void UdpSimServer::Run(const std::atomic<bool>& stop, const SummaryHandler& onSummary) {
    while (!stop.load()) {
        std::uint64_t now = SimNowMs();
        std::uint64_t waitMs = kMaxPollMs;
        for (const Pending& p : pending_) {
            waitMs = std::min(waitMs, p.output.atMs > now ? p.output.atMs - now : 0);
        }
        pollfd pfd{fd_, POLLIN, 0};
        ::poll(&pfd, 1, static_cast<int>(waitMs));
        now = SimNowMs();
        if (pfd.revents & POLLIN) {
            ServeDatagrams(now);
        }
        SendDue(now);
        ReportSessions(now, onSummary, false);
    }
    ReportSessions(SimNowMs(), onSummary, true);
}

void UdpSimServer::ServeDatagrams(std::uint64_t nowMs) {
    std::array<std::uint8_t, kReceiveBufferSize> buffer{};
    for (;;) {
        sockaddr_in peer{};
        socklen_t peerSize = sizeof peer;
        const ssize_t got = ::recvfrom(fd_, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&peer), &peerSize);
        if (got < 0) {
            return;  // nothing more waiting
        }
        const auto datagram =
            std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(got));
        std::lock_guard lock(mutex_);
        peerAddress_ = peer.sin_addr.s_addr;
        peerPort_ = peer.sin_port;
        if (std::string_view(reinterpret_cast<const char*>(datagram.data()), datagram.size()) ==
            kResetCommand) {
            sim_.Restart(nowMs);
            pending_.clear();
            continue;
        }
        for (SimOutput& out : sim_.OnDatagram(datagram, nowMs)) {
            pending_.push_back({std::move(out), peerAddress_, peerPort_});
        }
    }
}

void UdpSimServer::SendDue(std::uint64_t nowMs) {
    // Replies go out in the order they were made, each once its time has come.
    auto due = pending_.begin();
    for (; due != pending_.end() && due->output.atMs <= nowMs; ++due) {
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_addr.s_addr = due->peerAddress;
        peer.sin_port = due->peerPort;
        ::sendto(fd_, due->output.bytes.data(), due->output.bytes.size(), 0,
                 reinterpret_cast<const sockaddr*>(&peer), sizeof peer);
    }
    pending_.erase(pending_.begin(), due);
}

void UdpSimServer::ReportSessions(std::uint64_t nowMs, const SummaryHandler& onSummary,
                                  bool final) {
    ReportEndedSessions(mutex_, sim_, nowMs, final, onSummary);
}

bool UdpSimServer::Start(std::string& error, SummaryHandler onSummary) {
    if (!Bind(error)) {
        return false;
    }
    stop_ = false;
    thread_ = std::thread([this, handler = std::move(onSummary)] { Run(stop_, handler); });
    return true;
}

void UdpSimServer::Stop() {
    stop_ = true;
    if (thread_.joinable()) {
        thread_.join();
    }
}
