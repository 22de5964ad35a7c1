#include "log/remote_listener.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <array>

namespace {

// Whether the socket has something to read (or a connection to accept) right now.
bool Readable(const UniqueFd& socket) {
    pollfd p{socket.Get(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && p.revents != 0;
}

}  // namespace

int RemoteListener::Start(const std::string& address, int port) {
    Stop();
    address_ = address;
    port_ = port;
    UniqueFd socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (!socket.Valid()) {
        return -1;
    }
    // The port must be free again at once after a client left (no wait for TIME_WAIT).
    const int on = 1;
    ::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(static_cast<std::uint16_t>(port));
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (!address.empty() && ::inet_pton(AF_INET, address.c_str(), &local.sin_addr) != 1) {
        return -2;
    }
    if (::bind(socket.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        return -2;
    }
    if (::listen(socket.Get(), 5) != 0) {
        return -3;
    }
    listening_ = std::move(socket);
    state_ = State::kListening;
    return 0;
}

void RemoteListener::Stop() {
    listening_.Reset();
    client_.Reset();
    state_ = State::kClosed;
}

void RemoteListener::Serve() {
    if (state_ == State::kListening) {
        Accept();
    }
    if (state_ == State::kConnected) {
        ReadClient();
    }
}

void RemoteListener::Accept() {
    if (!Readable(listening_)) {
        return;
    }
    UniqueFd client(::accept4(listening_.Get(), nullptr, nullptr, SOCK_CLOEXEC));
    // A failed accept (no descriptors left, say) keeps the port listening; the client waits
    // in the backlog for the next pass.
    if (!client.Valid()) {
        return;
    }
    client_ = std::move(client);
    listening_.Reset();
    state_ = State::kConnected;
}

void RemoteListener::ReadClient() {
    if (!Readable(client_)) {
        return;
    }
    std::array<char, 256> buffer{};
    const ssize_t n = ::recv(client_.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
    if (n == 0) {
        // The client has left: serve the next one.
        Start(address_, port_);
    }
}

void RemoteListener::Send(std::string_view text) const {
    if (state_ == State::kConnected) {
        ::send(client_.Get(), text.data(), text.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
}
