#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "links/udp/udp_socket.h"

namespace {

class PosixUdpSocket final : public UdpSocket {
  public:
    ~PosixUdpSocket() override { Close(); }

    SocketCall Create() override {
        Close();
        fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_UDP);
        return Result(fd_ >= 0);
    }

    SocketCall SetSendTimeout(unsigned ms) override { return SetTimeout(SO_SNDTIMEO, ms); }
    SocketCall SetReceiveTimeout(unsigned ms) override {
        // The socket option is set as well, but the kernel rounds it up to its tick (a 5 ms
        // time-out waits 8 to 13 ms); Receive keeps to the bound itself with poll().
        receiveTimeoutMs_ = ms;
        return SetTimeout(SO_RCVTIMEO, ms);
    }

    SocketCall Resolve(const std::string& name, std::uint32_t& address) override {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_DGRAM;
        addrinfo* found = nullptr;
        const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &found);
        if (rc != 0 || found == nullptr) {
            // The resolver's own code, or errno when it reports a system failure.
            return {false, rc == EAI_SYSTEM ? errno : rc};
        }
        address = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
        ::freeaddrinfo(found);
        return {true, 0};
    }

    SocketCall Connect(std::uint32_t address, std::uint16_t port) override {
        sockaddr_in peer{};
        peer.sin_family = AF_INET;
        peer.sin_port = htons(port);
        peer.sin_addr.s_addr = address;
        return Result(::connect(fd_, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0);
    }

    SocketCall Send(std::span<const std::uint8_t> bytes, std::size_t& count) override {
        const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        count = sent > 0 ? static_cast<std::size_t>(sent) : 0;
        return Result(sent >= 0);
    }

    DatagramReceive Receive(std::span<std::uint8_t> buffer) override {
        pollfd pfd{fd_, POLLIN, 0};
        const int ready = ::poll(&pfd, 1, static_cast<int>(receiveTimeoutMs_));
        if (ready < 0) {
            return {false, errno, 0};
        }
        if (ready == 0) {
            return {false, EAGAIN, 0};  // the receive time-out, as the socket option reports it
        }
        const DatagramReceive got = ReceiveWaiting(buffer);
        if (got.ok && got.count > buffer.size()) {
            return {false, EMSGSIZE, 0};
        }
        return got;
    }

    DatagramReceive ReceiveWaiting(std::span<std::uint8_t> buffer) override {
        // MSG_TRUNC makes recv return the datagram's real length, so a longer one shows.
        const ssize_t got = ::recv(fd_, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
        if (got < 0) {
            return {false, errno, 0};
        }
        return {true, 0, static_cast<std::size_t>(got)};
    }

    void Close() override {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
    }

  private:
    static SocketCall Result(bool ok) { return {ok, ok ? 0 : errno}; }

    SocketCall SetTimeout(int option, unsigned ms) {
        timeval tv{};
        tv.tv_sec = static_cast<time_t>(ms / 1000);
        tv.tv_usec = static_cast<suseconds_t>((ms % 1000) * 1000);
        return Result(::setsockopt(fd_, SOL_SOCKET, option, &tv, sizeof tv) == 0);
    }

    int fd_ = -1;
    // 0 until set: a receive then only takes what is already waiting.
    unsigned receiveTimeoutMs_ = 0;
};

}  // namespace

std::unique_ptr<UdpSocket> MakeSystemUdpSocket() {
    return std::make_unique<PosixUdpSocket>();
}
