#include "links/udp/communication_udp.h"

#include <algorithm>
#include <array>

#include "engine/bootloader_protocol.h"
#include "engine/link_profiles.h"
#include "links/udp/udp_socket.h"
#include "log/text_format.h"

namespace {

// Every receive and send returns within this time; longer waits are the operations' own.
constexpr unsigned kSocketTimeoutMs = 5;
// The longest synchronisation answer one receive takes.
constexpr std::size_t kAnswerBufferSize = 16;
// Draining stale datagrams before a frame: the bytes of each that are kept for the log, and
// the most datagrams taken in one go.
constexpr std::size_t kDrainBufferSize = 512;
constexpr unsigned kMaxDrainedDatagrams = 64;
// A device needs a moment after the reset command before it listens.
constexpr unsigned kAfterResetMs = 10;

constexpr int N = kSourceNetwork;

}  // namespace

// The link's state and its carriage of the bootloader dialogue: one datagram per protocol
// byte, per frame and per reply.
struct CCommunication_UDP1::Impl final : ByteTransport {
    Impl(LogSink& l, Clock& c, std::unique_ptr<UdpSocket> s)
        : log(l), clock(c), socket(std::move(s)) {}

    LogSink& log;
    Clock& clock;
    std::unique_ptr<UdpSocket> socket;
    bool isOpen = false;
    BootloaderInfo info;

    LinkContext Context() { return {*this, clock, log}; }

    // Sends one datagram; a send that does not take every byte is a failure.
    IoResult Send(std::span<const std::uint8_t> bytes) {
        std::size_t count = 0;
        const SocketCall r = socket->Send(bytes, count);
        return {r.ok && count == bytes.size(), r.error, count};
    }

    bool IsOpen() const override { return isOpen; }

    IoResult Write(std::span<const std::uint8_t> bytes) override { return Send(bytes); }

    PollResult PollByte() override {
        std::uint8_t byte = BL_NOTHING;
        const DatagramReceive r = socket->Receive(std::span(&byte, 1));
        // A failed receive (the short time-out included) and an empty datagram are no reply.
        if (!r.ok || r.count == 0) {
            return {PollStatus::Nothing, 0, r.error};
        }
        return {PollStatus::Byte, byte, 0};
    }

    AnswerResult ReadAnswer(std::span<std::uint8_t> buffer) override {
        const DatagramReceive r =
            socket->Receive(buffer.first(std::min(buffer.size(), kAnswerBufferSize)));
        if (!r.ok) {
            return {AnswerStatus::ReadFailed, 0, r.error};
        }
        return {AnswerStatus::Received, r.count, 0};
    }

    IoResult Read(std::span<std::uint8_t> buffer) override {
        const DatagramReceive r = socket->Receive(buffer);
        return {r.ok, r.error, r.count};
    }

    std::vector<std::uint8_t> DiscardInput() override {
        std::vector<std::uint8_t> discarded;
        std::array<std::uint8_t, kDrainBufferSize> buffer{};
        // Bounded, so a peer that floods the socket cannot hold the transfer here.
        for (unsigned i = 0; isOpen && i < kMaxDrainedDatagrams; ++i) {
            const DatagramReceive r = socket->ReceiveWaiting(buffer);
            if (!r.ok) {
                break;
            }
            const std::size_t kept = std::min(r.count, buffer.size());
            discarded.insert(discarded.end(), buffer.begin(), buffer.begin() + kept);
        }
        return discarded;
    }

    void Close() override {
        if (isOpen) {
            socket->Close();
        }
        isOpen = false;
    }

    // Logs the failure of an opening step, closes the half-made socket, returns the code.
    int OpenFailed(int code, const std::string& text) {
        log.Log(2, text, N);
        socket->Close();
        return code;
    }
};

CCommunication_UDP1::CCommunication_UDP1(LogSink& log, Clock& clock)
    : CCommunication_UDP1(log, clock, MakeSystemUdpSocket()) {}

CCommunication_UDP1::CCommunication_UDP1(LogSink& log, Clock& clock,
                                         std::unique_ptr<UdpSocket> socket)
    : impl_(std::make_unique<Impl>(log, clock, std::move(socket))) {}

CCommunication_UDP1::~CCommunication_UDP1() {
    CloseLink();
}

int CCommunication_UDP1::Open_Port(std::string_view address) {
    Impl& d = *impl_;
    const std::string text(address);
    Logf(d.log, 4, N, "Open_Port(IP %s)", text.c_str());
    d.Close();
    if (text.size() < 2) {
        d.log.Log(2, "~Open_Port() IP_Addr to short", N);
        return -1;
    }
    if (const SocketCall r = d.socket->Create(); !r.ok) {
        Logf(d.log, 2, N, "~Open_Port() socket() %i", r.error);
        return -2;
    }
    SocketCall r = d.socket->SetSendTimeout(kSocketTimeoutMs);
    if (r.ok) {
        r = d.socket->SetReceiveTimeout(kSocketTimeoutMs);
    }
    if (!r.ok) {
        return d.OpenFailed(-3, StrPrintf("~Open_Port() setsockopt() %i", r.error));
    }
    std::uint32_t peer = 0;
    if (r = d.socket->Resolve(text, peer); !r.ok) {
        return d.OpenFailed(-4,
                            StrPrintf("~Open_Port() gethostbyname(%s) %i", text.c_str(), r.error));
    }
    if (r = d.socket->Connect(peer, kDevicePort); !r.ok) {
        return d.OpenFailed(-5, StrPrintf("~Open_Port() connect() %i", r.error));
    }
    d.log.Log(4, "~Open_Port()", N);
    d.isOpen = true;
    return 0;
}

void CCommunication_UDP1::CloseLink() {
    impl_->Close();
}

int CCommunication_UDP1::ResetDevice(std::string_view text) {
    Impl& d = *impl_;
    const std::string command(text);
    Logf(d.log, 4, N, "ResetDevice(%s)", command.c_str());
    if (!d.isOpen) {
        d.log.Log(2, "~ResetDevice() no connection", N);
        return -1;
    }
    const auto bytes =
        std::span(reinterpret_cast<const std::uint8_t*>(command.data()), command.size());
    if (const IoResult r = d.Send(bytes); !r.ok) {
        Logf(d.log, 2, N, "~ResetDevice() error %i in send()", r.error);
        return -2;
    }
    d.log.LogData(4, bytes, kSourceNetworkSent);
    d.clock.PumpWait(kAfterResetMs);
    return 0;
}

int CCommunication_UDP1::SynchroniseBootloader() {
    Impl& d = *impl_;
    d.log.Log(4, "SynchroniseBootloader()", N);
    return SynchroniseSingle(d.Context(), NetworkSyncProfile(), d.info);
}

int CCommunication_UDP1::UpdateAVR(const std::string& path, ProgressSink* progress) {
    Impl& d = *impl_;
    Logf(d.log, 4, N, "UpdateAVR(%s)", path.c_str());
    return RunTransfer(d.Context(), NetworkTransferProfile(), TransferRequest{path, progress, {}},
                       d.info);
}

const BootloaderInfo& CCommunication_UDP1::GetBootloaderInfo() const {
    return impl_->info;
}

bool CCommunication_UDP1::IsOpen() const {
    return impl_->isOpen;
}
