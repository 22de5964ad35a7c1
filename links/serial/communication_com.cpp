#include "links/serial/communication_com.h"

#include <algorithm>
#include <array>

#include "engine/bootloader_protocol.h"
#include "engine/link_profiles.h"
#include "links/drain_input.h"
#include "links/serial/natural_sort.h"
#include "log/text_format.h"

namespace {

constexpr int S = kSourceSerial;
// The rates the link accepts; the others a system may offer are refused as parameter errors.
constexpr std::array<unsigned, 15> kBaudRates{110,   300,   600,    1200,   2400,
                                              4800,  9600,  14400,  19200,  38400,
                                              56000, 57600, 115200, 128000, 256000};

#ifdef _WIN32
// "COMn" with n from 1 to 64, without regard to case.
bool IsPortNumberInRange(const std::string& name) {
    if (name.size() < 4 || name.size() > 5) {
        return false;
    }
    for (std::size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) {
            return false;
        }
    }
    int n = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) {
            return false;
        }
        n = n * 10 + (name[i] - '0');
    }
    return n >= 1 && n <= 64;
}
#endif

// The first parameter that fails its check gives its code; 0 when all pass.
int CheckParameters([[maybe_unused]] const std::string& port, const SerialLineSettings& s) {
#ifdef _WIN32
    if (!IsPortNumberInRange(port)) {
        return -1;
    }
#endif
    if (std::find(kBaudRates.begin(), kBaudRates.end(), s.baud) == kBaudRates.end()) {
        return -2;
    }
    if (s.parity > 4) {
        return -3;
    }
    if (s.byteSize != 7 && s.byteSize != 8) {
        return -4;
    }
    if (s.stopBits > 2) {
        return -5;
    }
    return 0;
}

// The protocol's carriage over the open port. Input is read only after the status query
// said how much is waiting, so every read returns at once.
class SerialTransport final : public ByteTransport {
  public:
    explicit SerialTransport(CCommunication_COM& link, std::unique_ptr<SerialPort>& port)
        : link_(link), port_(port) {}

    bool IsOpen() const override { return port_ != nullptr; }

    IoResult Write(std::span<const std::uint8_t> bytes) override { return port_->Write(bytes); }

    PollResult PollByte() override {
        const IoResult waiting = port_->Waiting();
        if (!waiting.ok) {
            return {PollStatus::StatusFailed, 0, waiting.error};
        }
        if (waiting.count == 0) {
            return {PollStatus::Nothing, 0, 0};
        }
        std::uint8_t byte = 0;
        const IoResult read = port_->Read(std::span(&byte, 1));
        if (!read.ok || read.count != 1) {
            return {PollStatus::ReadFailed, 0, read.error};
        }
        return {PollStatus::Byte, byte, 0};
    }

    AnswerResult ReadAnswer(std::span<std::uint8_t> buffer) override {
        const IoResult waiting = port_->Waiting();
        if (!waiting.ok) {
            return {AnswerStatus::StatusFailed, 0, waiting.error};
        }
        if (waiting.count == 0) {
            return {AnswerStatus::Nothing, 0, 0};
        }
        if (waiting.count > buffer.size()) {
            port_->Purge();
            return {AnswerStatus::TooMany, waiting.count, 0};
        }
        const IoResult read = port_->Read(buffer.first(waiting.count));
        if (!read.ok) {
            return {AnswerStatus::ReadFailed, 0, read.error};
        }
        return {AnswerStatus::Received, read.count, 0};
    }

    // The serial link takes the answer in one read; the hunting form is not used on it.
    IoResult Read(std::span<std::uint8_t>) override { return {false, 0, 0}; }

    // Reads off what is waiting rather than purging, so the log can show what was dropped.
    // A failing port is left for the reply poll to report with its own code.
    // What waits is read at once, up to the limit.
    std::vector<std::uint8_t> DiscardInput() override {
        return DrainInput(
            kMaxDiscardedBytes, [this](std::span<std::uint8_t> into) -> std::optional<std::size_t> {
                const IoResult waiting = port_->Waiting();
                if (!waiting.ok || waiting.count == 0) {
                    return waiting.ok ? std::optional<std::size_t>(0) : std::nullopt;
                }
                const IoResult read = port_->Read(into.first(std::min(waiting.count, into.size())));
                return read.ok ? std::optional(read.count) : std::nullopt;
            });
    }

    void Close() override { link_.COM_Close(); }

  private:
    CCommunication_COM& link_;
    std::unique_ptr<SerialPort>& port_;
};

}  // namespace

struct CCommunication_COM::Impl {
    Impl(CCommunication_COM& link, LogSink& log, Clock& clock, SerialPortAccess access)
        : log(log), clock(clock), access(std::move(access)), transport(link, port) {}

    LinkContext Link() { return {transport, clock, log}; }

    LogSink& log;
    Clock& clock;
    SerialPortAccess access;
    std::unique_ptr<SerialPort> port;  // none while closed
    SerialTransport transport;
    BootloaderInfo info;
    SerialLineSettings settings;
};

CCommunication_COM::CCommunication_COM(LogSink& log, Clock& clock)
    : CCommunication_COM(log, clock, SystemSerialPorts()) {}

CCommunication_COM::CCommunication_COM(LogSink& log, Clock& clock, SerialPortAccess access)
    : impl_(std::make_unique<Impl>(*this, log, clock, std::move(access))) {}

CCommunication_COM::~CCommunication_COM() {
    COM_Close();
}

void CCommunication_COM::COM_EnumeratePorts(std::vector<SerialPortEntry>& ports) {
    ports.clear();
    if (impl_->access.listPorts) {
        ports = impl_->access.listPorts();
    }
    std::stable_sort(ports.begin(), ports.end(),
                     [](const SerialPortEntry& a, const SerialPortEntry& b) {
                         return NaturalLess(a.name, b.name);
                     });
}

int CCommunication_COM::COM_Open(const std::string& port, unsigned baud, unsigned parity,
                                 unsigned byteSize, unsigned stopBits) {
    LogSink& log = impl_->log;
    Logf(log, 4, S, "COM_Open(%s, %i)", port.c_str(), static_cast<int>(baud));
    const SerialLineSettings settings{baud, parity, byteSize, stopBits};
    if (const int code = CheckParameters(port, settings); code != 0) {
        Logf(log, 2, S, "~COM_Open() parameter error");
        return code;
    }
    COM_Close();
    impl_->settings = settings;

    auto opened = impl_->access.makePort();
    if (const int error = opened->Open(port); error != 0) {
        Logf(log, 2, S, "~COM_Open() CreateFile() = %i", error);
        return -6;
    }
    // From here on the port stays open even when a later step fails; the next COM_Open or
    // the destructor closes it.
    impl_->port = std::move(opened);
    if (const int error = impl_->port->Purge(); error != 0) {
        Logf(log, 2, S, "~COM_Open() PurgeComm() = %i", error);
        return -8;
    }
    if (const int error = impl_->port->Configure(settings); error != 0) {
        Logf(log, 2, S, "~COM_Open() SetCommState() = %i", error);
        return -9;
    }
    return 0;
}

int CCommunication_COM::COM_SynchroniseBootloader() {
    Logf(impl_->log, 4, S, "COM_SynchroniseBootloader()");
    return SynchroniseSingle(impl_->Link(), SerialSyncProfile(), impl_->info);
}

int CCommunication_COM::COM_UpdateAVR(const std::string& path, ProgressSink* progress) {
    Logf(impl_->log, 4, S, "COM_UpdateAVR(%s)", path.c_str());
    return RunTransfer(impl_->Link(), SerialTransferProfile(), TransferRequest{path, progress, {}},
                       impl_->info);
}

int CCommunication_COM::COM_SendBuffer(std::span<const std::uint8_t> bytes) {
    LogSink& log = impl_->log;
    Logf(log, 4, S, "COM_SendBuffer()");
    if (!impl_->port) {
        Logf(log, 2, S, "~COM_SendBuffer() no connection");
        return -1;
    }
    const IoResult written = impl_->port->Write(bytes);
    if (!written.ok) {
        Logf(log, 2, S, "~COM_SendBuffer() error %i in WriteFile()", written.error);
        return -2;
    }
    if (!bytes.empty()) {
        log.LogData(4, bytes, kSourceSerialSent);
    }
    Logf(log, 4, S, "~COM_SendBuffer()");
    return 0;
}

void CCommunication_COM::COM_Close() {
    if (impl_->port) {
        impl_->port->Close();
        impl_->port.reset();
    }
}

const BootloaderInfo& CCommunication_COM::GetBootloaderInfo() const {
    return impl_->info;
}

bool CCommunication_COM::IsOpen() const {
    return impl_->port != nullptr;
}
