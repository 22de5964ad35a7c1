// The network link against a device on loopback (a plain socket the test drives, or the
// simulator), and against a socket layer that fails where the test says.

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <deque>
#include <fstream>
#include <thread>

#include "links/udp/communication_udp.h"
#include "links/udp/udp_socket.h"
#include "sim/udp_transport.h"
#include "support/recording_log.h"
#include "support/temp_dir.h"

using Bytes = std::vector<std::uint8_t>;

namespace {

// The device's end: a socket bound to address:4107 that the test reads and writes itself.
class DevicePeer {
  public:
    explicit DevicePeer(const std::string& address) : fd_(::socket(AF_INET, SOCK_DGRAM, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(CCommunication_UDP1::kDevicePort);
        ::inet_pton(AF_INET, address.c_str(), &local.sin_addr);
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
        timeval tv{1, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~DevicePeer() { ::close(fd_); }
    bool Bound() const { return bound_; }

    // The next datagram from the host (the host's address is kept for replies).
    Bytes Receive() {
        Bytes buffer(2048);
        socklen_t size = sizeof host_;
        const ssize_t got = ::recvfrom(fd_, buffer.data(), buffer.size(), 0,
                                       reinterpret_cast<sockaddr*>(&host_), &size);
        buffer.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return buffer;
    }
    void Send(const Bytes& datagram) {
        ::sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&host_),
                 sizeof host_);
    }

  private:
    int fd_;
    bool bound_ = false;
    sockaddr_in host_{};
};

// A socket layer whose calls fail where the test says; sends are recorded.
class FailingSocket final : public UdpSocket {
  public:
    struct Script {
        int failCreate = 0, failSendTimeout = 0, failReceiveTimeout = 0, failResolve = 0,
            failConnect = 0;
        int failSendNumber = 0;  // the n-th send (from 1) fails with error 90
        std::deque<Bytes> replies;
    };
    explicit FailingSocket(Script& s) : s_(s) {}

    int creates = 0, closes = 0;
    std::vector<Bytes> sent;

    SocketCall Create() override { return Call(s_.failCreate, ++creates); }
    SocketCall SetSendTimeout(unsigned) override { return Call(s_.failSendTimeout); }
    SocketCall SetReceiveTimeout(unsigned) override { return Call(s_.failReceiveTimeout); }
    SocketCall Resolve(const std::string&, std::uint32_t& a) override {
        a = 0x0100007F;
        return Call(s_.failResolve);
    }
    SocketCall Connect(std::uint32_t, std::uint16_t) override { return Call(s_.failConnect); }
    SocketCall Send(std::span<const std::uint8_t> bytes, std::size_t& count) override {
        sent.emplace_back(bytes.begin(), bytes.end());
        if (static_cast<int>(sent.size()) == s_.failSendNumber) {
            count = 0;
            return {false, 90};
        }
        count = bytes.size();
        if (bytes.size() == 1 && bytes[0] == 0xF0) {
            s_.replies.push_front({0xFE, 1, 5, 1, 0xFF});
        } else if (bytes.size() > 1) {
            s_.replies.push_back({0x11});
        }
        return {true, 0};
    }
    DatagramReceive Receive(std::span<std::uint8_t> buffer) override {
        if (s_.replies.empty()) {
            return {false, 11, 0};
        }
        const Bytes d = s_.replies.front();
        s_.replies.pop_front();
        std::copy(d.begin(), d.end(), buffer.begin());
        return {true, 0, d.size()};
    }
    DatagramReceive ReceiveWaiting(std::span<std::uint8_t> buffer) override {
        return Receive(buffer);
    }
    void Close() override { ++closes; }

  private:
    static SocketCall Call(int error, int = 0) { return {error == 0, error}; }
    Script& s_;
};

std::string WriteFile(const TempDir& dir, const std::string& name, const std::string& text) {
    return dir.Write(name, text);
}

// Opens the link to the device socket and lets the device learn where the host is.
bool Connect(CCommunication_UDP1& link, DevicePeer& device, const std::string& address) {
    if (link.Open_Port(address) != 0 || link.ResetDevice("x") != 0) {
        return false;
    }
    return device.Receive() == Bytes{'x'};
}

class UdpLink : public ::testing::Test {
  protected:
    RecordingLog log_;
    TempDir dir_;
};

}  // namespace

TEST_F(UdpLink, OpenRefusesAnAddressShorterThanTwoCharactersWithoutASocket) {
    FailingSocket::Script script;
    auto socket = std::make_unique<FailingSocket>(script);
    FailingSocket& s = *socket;
    CCommunication_UDP1 link(log_, DefaultClock(), std::move(socket));

    EXPECT_EQ(link.Open_Port("1"), -1);
    EXPECT_EQ(link.Open_Port(""), -1);
    EXPECT_EQ(s.creates, 0);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(log_.HasLine(4, 20, "Open_Port(IP 1)"));
    EXPECT_TRUE(log_.HasLine(2, 20, "~Open_Port() IP_Addr to short"));
}

TEST_F(UdpLink, EachFailingOpeningStepHasItsCodeAndLeavesTheLinkClosed) {
    struct Case {
        int FailingSocket::Script::*step;
        int code;
        std::string line;
    };
    const std::vector<Case> cases{
        {&FailingSocket::Script::failCreate, -2, "~Open_Port() socket() 24"},
        {&FailingSocket::Script::failSendTimeout, -3, "~Open_Port() setsockopt() 24"},
        {&FailingSocket::Script::failReceiveTimeout, -3, "~Open_Port() setsockopt() 24"},
        {&FailingSocket::Script::failResolve, -4, "~Open_Port() gethostbyname(device) 24"},
        {&FailingSocket::Script::failConnect, -5, "~Open_Port() connect() 24"},
    };
    for (const Case& c : cases) {
        FailingSocket::Script script;
        script.*c.step = 24;
        RecordingLog log;
        auto socket = std::make_unique<FailingSocket>(script);
        FailingSocket& s = *socket;
        CCommunication_UDP1 link(log, DefaultClock(), std::move(socket));

        EXPECT_EQ(link.Open_Port("device"), c.code) << c.line;
        EXPECT_FALSE(link.IsOpen());
        EXPECT_TRUE(log.HasLine(2, 20, c.line)) << c.line;
        // A socket that was made is closed again.
        EXPECT_EQ(s.closes, c.code == -2 ? 0 : 1) << c.line;
        EXPECT_EQ(link.SynchroniseBootloader(), -1);
    }
}

TEST_F(UdpLink, SendFailureDuringTheTransferClosesTheLink) {
    FailingSocket::Script script;
    script.failSendNumber = 4;  // BL_SYNC, BL_START, frame 0, then frame 1 fails
    auto socket = std::make_unique<FailingSocket>(script);
    CCommunication_UDP1 link(log_, DefaultClock(), std::move(socket));
    const std::string file = WriteFile(dir_, "two.enc", "000111000122");

    ASSERT_EQ(link.Open_Port("device"), 0);
    ASSERT_EQ(link.SynchroniseBootloader(), 0);
    EXPECT_EQ(link.UpdateAVR(file, nullptr), -7);
    EXPECT_FALSE(link.IsOpen());
    EXPECT_TRUE(log_.HasLine(2, 20, "~UpdateAVR() error 90 in send()"));
}

TEST_F(UdpLink, ResetCommandGoesAsOneDatagramToPort4107) {
    DevicePeer device("127.0.2.1");
    ASSERT_TRUE(device.Bound());
    CCommunication_UDP1 link(log_);
    EXPECT_EQ(link.ResetDevice("Boot"), -1);
    EXPECT_TRUE(log_.HasLine(2, 20, "~ResetDevice() no connection"));

    ASSERT_EQ(link.Open_Port("127.0.2.1"), 0);
    EXPECT_EQ(link.ResetDevice("Boot"), 0);

    EXPECT_EQ(device.Receive(), (Bytes{'B', 'o', 'o', 't'}));
    EXPECT_TRUE(log_.HasLine(4, 20, "ResetDevice(Boot)"));
}

TEST_F(UdpLink, SynchronisationTakesTheAnswerAndConfirmsWithStart) {
    DevicePeer device("127.0.2.2");
    CCommunication_UDP1 link(log_);
    ASSERT_TRUE(Connect(link, device, "127.0.2.2"));
    device.Send({0xFE, 0x02, 0x0A, 0x07, 0xFF});

    EXPECT_EQ(link.SynchroniseBootloader(), 0);

    EXPECT_EQ(device.Receive(), Bytes{0xF0});
    EXPECT_EQ(device.Receive(), Bytes{0xF1});
    const BootloaderInfo& info = link.GetBootloaderInfo();
    EXPECT_EQ(info.versionHigh, 0x02);
    EXPECT_EQ(info.versionLow, 0x0A);
    EXPECT_EQ(info.deviceId, 0x07);
    EXPECT_TRUE(log_.HasLine(2, 20, "~SynchroniseBootloader()"));
}

TEST_F(UdpLink, WrongOrMissingOrOversizedAnswersFailAndKeepTheLinkOpen) {
    DevicePeer device("127.0.2.3");
    CCommunication_UDP1 link(log_);
    ASSERT_TRUE(Connect(link, device, "127.0.2.3"));

    device.Send({0xFE, 0x01, 0x05, 0x01, 0xFF, 0x00});
    EXPECT_EQ(link.SynchroniseBootloader(), -4);
    EXPECT_TRUE(log_.HasLine(2, 20, "~SynchroniseBootloader() data- or format-error"));

    EXPECT_EQ(link.SynchroniseBootloader(), -3);  // nothing came: the receive timed out
    EXPECT_TRUE(log_.HasLine(2, 20, "~SynchroniseBootloader() error 11 in recv()"));

    // Longer than the 16 bytes one receive takes: a failed receive, as on every platform.
    device.Send(Bytes(17, 0xFE));
    EXPECT_EQ(link.SynchroniseBootloader(), -3);
    EXPECT_TRUE(log_.HasLine(2, 20, "~SynchroniseBootloader() error 90 in recv()"));

    EXPECT_TRUE(link.IsOpen());
    EXPECT_EQ(device.Receive(), Bytes{0xF0});
}

TEST_F(UdpLink, StaleDatagramsAreDroppedAndOnlyAByteAnswersAFrame) {
    DevicePeer device("127.0.2.4");
    CCommunication_UDP1 link(log_);
    ASSERT_TRUE(Connect(link, device, "127.0.2.4"));
    // Waiting before the frame goes: an acknowledgement and a synchronisation answer.
    device.Send({0x11});
    device.Send({0xFE, 0x01, 0x05, 0x01, 0xFF});
    // After the frame: a repeated synchronisation answer (its first byte is the not-ready
    // byte), an empty datagram, then the acknowledgement.
    std::thread answering([&device] {
        if (device.Receive().size() > 1) {
            device.Send({0xFE, 0x01, 0x05, 0x01, 0xFF});
            device.Send({});
            device.Send({0x11});
        }
    });
    const std::string file = WriteFile(dir_, "one.enc", "0003414243");

    EXPECT_EQ(link.UpdateAVR(file, nullptr), 0);
    answering.join();

    EXPECT_EQ(log_.CountLines("UpdateAVR() - recv. byte (0x11)"), 1u);
    EXPECT_EQ(log_.CountLines("UpdateAVR() - recv. byte (0xFE)"), 0u);
    EXPECT_TRUE(log_.HasLine(4, 20, "~UpdateAVR() - done"));
    EXPECT_FALSE(link.IsOpen());
    const auto entries = log_.Entries();
    EXPECT_TRUE(std::any_of(entries.begin(), entries.end(), [](const auto& e) {
        return e.isDump && e.source == 22 && e.data == Bytes{0x11, 0xFE, 0x01, 0x05, 0x01, 0xFF};
    })) << "the dropped datagrams are traced as received bytes";
}

TEST_F(UdpLink, FullUpdateAgainstTheSimulatorWithBootRestart) {
    SimOptions options;
    options.versionHigh = 3;
    options.versionLow = 0x21;
    options.deviceId = 9;
    options.faults = {{1, 0x22, 1}, {2, 0x33, 1}};
    UdpSimServer device(options, "127.0.2.5");
    std::string error;
    ASSERT_TRUE(device.Start(error)) << error;
    CCommunication_UDP1 link(log_);
    ASSERT_EQ(link.Open_Port("127.0.2.5"), 0);
    ASSERT_EQ(link.SynchroniseBootloader(), 0);
    EXPECT_EQ(BootloaderVersionText(link.GetBootloaderInfo()), "Bootloader version 3.21");

    // "Boot" restarts the device: it waits for synchronisation again.
    ASSERT_EQ(link.ResetDevice("Boot"), 0);
    ASSERT_EQ(link.SynchroniseBootloader(), 0);
    const std::string file = WriteFile(dir_, "three.enc", "000111000122000133");
    EXPECT_EQ(link.UpdateAVR(file, nullptr), 0);

    EXPECT_TRUE(link.GetBootloaderInfo().signatureError);
    EXPECT_TRUE(log_.HasLine(4, 20, "UpdateAVR() - CRC error"));
    EXPECT_TRUE(log_.HasLine(4, 20, "UpdateAVR() - send frame 1 (3, 0x0001)"));
    EXPECT_EQ(log_.CountLines("UpdateAVR() - send frame 1 (3, 0x0001)"), 2u);
    const auto image = device.Inspect([](const BootloaderSim& s) { return s.AcceptedImage(); });
    EXPECT_EQ(image, (Bytes{0, 1, 0x11, 0, 1, 0x22, 0, 1, 0x33}));
    EXPECT_EQ(device.Inspect([](const BootloaderSim& s) { return s.SyncAnswers(); }), 2u);
}
