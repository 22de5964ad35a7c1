#pragma once

#include <string>
#include <string_view>

#include "log/unique_fd.h"

// A TCP port that serves the log to one viewer at a time. Everything runs without waiting:
// the worker polls it once per pass. Only one client is served; while it is connected the
// port does not listen, so further clients are refused.
class RemoteListener {
  public:
    enum class State { kClosed = 0, kListening = 1, kConnected = 2 };

    // Listens on the port of the address (empty: any local address). 0 on success; -1 no
    // socket, -2 bind failed (for example the port is taken), -3 listen failed. A listener
    // that fails stays closed.
    int Start(const std::string& address, int port);
    void Stop();

    // Accepts a waiting client, reads and drops what the client sent, and listens again
    // when the client has left.
    void Serve();

    // Sends the text to the connected client. A slow or broken client never blocks the
    // worker: what does not fit is dropped.
    void Send(std::string_view text) const;

    State GetState() const { return state_; }
    bool Connected() const { return state_ == State::kConnected; }

  private:
    void Accept();
    void ReadClient();

    std::string address_;
    int port_ = 0;
    UniqueFd listening_;
    UniqueFd client_;
    State state_ = State::kClosed;
};
