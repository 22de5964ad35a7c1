// The remote log listener as clients meet it over loopback (127.x.y.z, this process's own
// address). An input is what a client does, one action a byte: send bytes, let the listener
// serve a pass, have the listener send a line, half-close, leave abruptly and come back, or
// let a second client knock. While a client has not left, the listener keeps it, what the
// listener sends reaches it and any other client is refused; once it has left, the listener
// listens again and serves the next client. One listener serves every input in turn.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "log/remote_listener.h"
#include "log/unique_fd.h"

namespace {

// A bound for what the kernel does at once on loopback; only a hang runs into it.
constexpr int kPatienceMs = 5000;

using State = RemoteListener::State;

std::string LoopbackAddress() {
    const auto pid = static_cast<unsigned>(::getpid());
    return "127." + std::to_string((pid >> 16) & 0xFF) + "." + std::to_string((pid >> 8) & 0xFF) +
           "." + std::to_string(pid & 0xFF);
}

sockaddr_in Endpoint(const std::string& address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

int FreePort(const std::string& address) {
    const UniqueFd s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in a = Endpoint(address, 0);
    socklen_t size = sizeof a;
    if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &size) != 0) {
        return -1;
    }
    return ntohs(a.sin_port);
}

class Client {
  public:
    // Connects; an invalid client when the connection is refused.
    Client(const std::string& address, int port)
        : fd_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        const sockaddr_in a = Endpoint(address, port);
        if (::connect(fd_.Get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            fd_.Reset();
        }
    }

    bool Valid() const { return fd_.Valid(); }
    void Send(std::span<const std::uint8_t> bytes) const {
        ::send(fd_.Get(), bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    }
    void HalfClose() const { ::shutdown(fd_.Get(), SHUT_WR); }
    // Leaves with a reset, which leaves no connection waiting out its time on either side.
    void Reset() {
        const linger abrupt{1, 0};
        ::setsockopt(fd_.Get(), SOL_SOCKET, SO_LINGER, &abrupt, sizeof abrupt);
        fd_.Reset();
    }
    // Reads until the text has arrived whole; false when something else or nothing came.
    bool Receive(std::string_view text) const {
        std::string got;
        while (got.size() < text.size()) {
            pollfd p{fd_.Get(), POLLIN, 0};
            if (::poll(&p, 1, kPatienceMs) <= 0) {
                return false;
            }
            char buffer[256];
            const ssize_t n = ::recv(fd_.Get(), buffer, sizeof buffer, MSG_DONTWAIT);
            if (n <= 0) {
                return false;
            }
            got.append(buffer, static_cast<std::size_t>(n));
        }
        return got == text;
    }

  private:
    UniqueFd fd_;
};

// Serves passes until the condition holds; false when it does not within the patience. The
// first few passes follow each other at once (a reset client takes two), later ones 1 ms apart.
bool ServeUntil(RemoteListener& listener, const std::function<bool()>& condition) {
    constexpr int kQuickPasses = 4;
    for (int pass = 0; pass < kQuickPasses + kPatienceMs; ++pass) {
        listener.Serve();
        if (condition()) {
            return true;
        }
        if (pass >= kQuickPasses) {
            ::usleep(1000);
        }
    }
    return false;
}

struct Session {
    RemoteListener listener;
    std::string address = LoopbackAddress();
    int port = FreePort(address);
    Session() { FuzzCheck(listener.Start(address, port) == 0, "the listener starts"); }
};

// A client connects and is served.
void Arrive(Session& s, std::optional<Client>& client) {
    client.emplace(s.address, s.port);
    FuzzCheck(client->Valid(), "a listening port takes a client");
    FuzzCheck(ServeUntil(s.listener, [&] { return s.listener.Connected(); }),
              "a client that connects is served");
}

// The client leaves abruptly and the listener listens again.
void Leave(Session& s, std::optional<Client>& client) {
    client->Reset();
    client.reset();
    FuzzCheck(ServeUntil(s.listener, [&] { return s.listener.GetState() == State::kListening; }),
              "the listener listens again once its client has left");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Session s;
    FuzzInput in(std::span(data, size));
    std::optional<Client> client;
    Arrive(s, client);
    bool leaving = false;  // the client has half-closed: it may be taken as gone
    while (!in.Empty()) {
        const std::uint8_t action = in.Byte();
        switch (action % 6) {
            case 0: {
                const auto bytes = in.Bytes(static_cast<std::size_t>(action / 6) * 8 + 1);
                if (!leaving) {
                    client->Send(bytes);
                }
                break;
            }
            case 1:
                s.listener.Serve();
                break;
            case 2:
                if (!leaving) {
                    FuzzCheck(s.listener.Connected(), "a client that has not left is kept");
                    const std::string line = "line " + std::to_string(action) + "\r\n";
                    s.listener.Send(line);
                    FuzzCheck(client->Receive(line), "what the listener sends reaches its client");
                }
                break;
            case 3:
                client->HalfClose();
                leaving = true;
                break;
            case 4:
                Leave(s, client);
                Arrive(s, client);
                leaving = false;
                break;
            default:
                if (s.listener.Connected()) {
                    FuzzCheck(!Client(s.address, s.port).Valid(),
                              "a second client is refused while one is served");
                }
                break;
        }
    }
    Leave(s, client);
    return 0;
}
