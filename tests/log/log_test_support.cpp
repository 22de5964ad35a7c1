#include "log_test_support.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string WaitForContent(const std::filesystem::path& path, std::string_view expected) {
    std::string content;
    WaitUntil([&] {
        content = ReadFile(path);
        return content == expected;
    });
    return content;
}

LogTime FixedTime() {
    LogTime t;
    t.hour = 14;
    t.minute = 3;
    t.second = 7;
    t.milliseconds = 45;
    return t;
}

LogEntry TextEntry(int level, std::string text, int source) {
    LogEntry entry;
    entry.time = FixedTime();
    entry.level = level;
    entry.source = source;
    entry.text = std::move(text);
    return entry;
}

std::string ProcessLoopbackAddress() {
    const auto pid = static_cast<unsigned>(::getpid());
    return "127." + std::to_string((pid >> 16) & 0xFF) + "." + std::to_string((pid >> 8) & 0xFF) +
           "." + std::to_string(pid & 0xFF);
}

namespace {

sockaddr_in Endpoint(const std::string& address, int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, address.c_str(), &a.sin_addr);
    return a;
}

}  // namespace

int FreePort(const std::string& address) {
    const UniqueFd s(::socket(AF_INET, SOCK_STREAM, 0));
    sockaddr_in a = Endpoint(address, 0);
    if (::bind(s.Get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        return -1;
    }
    socklen_t size = sizeof a;
    ::getsockname(s.Get(), reinterpret_cast<sockaddr*>(&a), &size);
    return ntohs(a.sin_port);
}

DebugLogOptions TestOptions(const std::filesystem::path& folder) {
    DebugLogOptions options;
    options.folder = folder.string();
    options.listenAddress = ProcessLoopbackAddress();
    options.textPort = FreePort(options.listenAddress);
    do {
        options.dumpPort = FreePort(options.listenAddress);
    } while (options.dumpPort == options.textPort);
    options.now = FixedTime;
    return options;
}

std::optional<TcpClient> TcpClient::Connect(const std::string& address, int port) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in a = Endpoint(address, port);
    if (::connect(fd.Get(), reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
        return std::nullopt;
    }
    return TcpClient(std::move(fd));
}

void TcpClient::Send(std::string_view text) const {
    ::send(fd_.Get(), text.data(), text.size(), MSG_NOSIGNAL);
}

bool TcpClient::ReadOnce(std::chrono::milliseconds timeout) {
    pollfd p{fd_.Get(), POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(timeout.count())) <= 0) {
        return true;
    }
    char buffer[4096];
    const ssize_t n = ::recv(fd_.Get(), buffer, sizeof buffer, 0);
    if (n <= 0) {
        return false;
    }
    received_.append(buffer, static_cast<std::size_t>(n));
    return true;
}

bool TcpClient::ReadUntil(std::string_view needle, std::chrono::milliseconds patience) {
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (received_.find(needle) == std::string::npos) {
        if (std::chrono::steady_clock::now() > deadline ||
            !ReadOnce(std::chrono::milliseconds(10))) {
            return false;
        }
    }
    return true;
}

bool TcpClient::WaitClosed() {
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!ReadOnce(std::chrono::milliseconds(10))) {
            return true;
        }
    }
    return false;
}

bool WaitServed(C_Debug_Log& log, TcpClient& client, bool dump) {
    static const std::vector<std::uint8_t> kProbeBytes = {0x50, 0x52, 0x4F, 0x42, 0x45};
    const auto deadline = std::chrono::steady_clock::now() + kPatience;
    while (std::chrono::steady_clock::now() < deadline) {
        if (dump) {
            log.LogData(0, kProbeBytes, 99);
        } else {
            log.Log(0, "probe", 99);
        }
        if (client.ReadUntil(dump ? "Length:5" : "probe", std::chrono::milliseconds(20))) {
            return true;
        }
    }
    return false;
}

bool AllLinesEndInCrLf(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) {
            return false;
        }
    }
    return true;
}
