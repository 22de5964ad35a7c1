#pragma once

#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "log/debug_log.h"
#include "log/log_entry.h"
#include "log/unique_fd.h"

// Helpers of the log tests: file polling, fixed time stamps and a TCP client on loopback.

constexpr std::chrono::seconds kPatience{5};

// Polls the condition until it holds or the patience runs out.
bool WaitUntil(const std::function<bool()>& condition,
               std::chrono::milliseconds patience = kPatience);

std::string ReadFile(const std::filesystem::path& path);

// Waits until the file holds exactly the expected text and returns what it holds.
std::string WaitForContent(const std::filesystem::path& path, std::string_view expected);

// 14:03:07,045, the time of every entry unless a test says otherwise.
LogTime FixedTime();
LogEntry TextEntry(int level, std::string text, int source = 9);

// An address of 127.0.0.0/8 that no other test process uses at the same time.
std::string ProcessLoopbackAddress();
// A TCP port that is free on the address.
int FreePort(const std::string& address);

// Options for a front writing to the folder, with fixed time stamps and listeners on free
// ports of this process's loopback address.
DebugLogOptions TestOptions(const std::filesystem::path& folder);

class TcpClient {
  public:
    // Empty when the connection is refused.
    static std::optional<TcpClient> Connect(const std::string& address, int port);

    void Send(std::string_view text) const;
    // Reads what arrives until the received text contains the needle; false on time-out or
    // when the server closes the connection first.
    bool ReadUntil(std::string_view needle, std::chrono::milliseconds patience = kPatience);
    // True when the server closes the connection within the patience.
    bool WaitClosed();
    const std::string& Received() const { return received_; }

  private:
    explicit TcpClient(UniqueFd fd) : fd_(std::move(fd)) {}
    // Reads once, waiting up to the timeout; false when the connection has ended.
    bool ReadOnce(std::chrono::milliseconds timeout);

    UniqueFd fd_;
    std::string received_;
};

// Logs probe entries (text or dump) until the client receives one, i.e. until the worker has
// accepted it. Entries are only sent to clients connected before they are written.
bool WaitServed(C_Debug_Log& log, TcpClient& client, bool dump);

// True when every line feed the text holds follows a carriage return.
bool AllLinesEndInCrLf(std::string_view text);
