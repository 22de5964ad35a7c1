#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

// The operating system's datagram sockets as the network link uses them: one IPv4 UDP socket,
// connected to the device. This is the only place that knows the socket interface, so another
// platform needs only its own implementation of MakeSystemUdpSocket.

// The outcome of one call: ok, or failed with the socket library's last error.
struct SocketCall {
    bool ok = false;
    int error = 0;
};

struct DatagramReceive {
    bool ok = false;
    int error = 0;
    std::size_t count = 0;  // bytes of the datagram (0 for an empty one)
};

class UdpSocket {
  public:
    virtual ~UdpSocket() = default;

    virtual SocketCall Create() = 0;
    virtual SocketCall SetSendTimeout(unsigned ms) = 0;
    virtual SocketCall SetReceiveTimeout(unsigned ms) = 0;
    // Resolves the name (dotted address or host name) to its first IPv4 address.
    virtual SocketCall Resolve(const std::string& name, std::uint32_t& address) = 0;
    // address in network byte order, as Resolve gives it.
    virtual SocketCall Connect(std::uint32_t address, std::uint16_t port) = 0;
    // One datagram; `count` tells how many bytes the system took.
    virtual SocketCall Send(std::span<const std::uint8_t> bytes, std::size_t& count) = 0;
    // One datagram into the buffer, waiting at most the receive time-out. A datagram longer
    // than the buffer is a failed receive and is dropped, on every platform alike.
    virtual DatagramReceive Receive(std::span<std::uint8_t> buffer) = 0;
    // One datagram that is already waiting, without waiting for one: fails at once (as a
    // time-out does) when none is there. `count` is the datagram's real length, which may
    // exceed the buffer: the bytes beyond it are dropped.
    virtual DatagramReceive ReceiveWaiting(std::span<std::uint8_t> buffer) = 0;
    virtual void Close() = 0;
};

std::unique_ptr<UdpSocket> MakeSystemUdpSocket();
