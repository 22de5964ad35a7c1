// The serial port layer over Qt SerialPort: opens any tty (pseudo-terminals included), sets
// non-standard rates, takes the port exclusively and lists the ports with their descriptions.

#include <QSerialPort>
#include <QSerialPortInfo>

#include <cerrno>

#include "links/serial/serial_port.h"

namespace {

// Qt reports failures as kinds; the link logs the system's error code. errno is read right
// after the failing call; when Qt failed without one, a code of the same kind stands in.
int SystemError(const QSerialPort& port, int savedErrno) {
    switch (port.error()) {
        case QSerialPort::PermissionError:
            // Qt's lock file refuses a port that another program holds; report that as the
            // system does for a port opened exclusively elsewhere.
            return (savedErrno == EACCES || savedErrno == EBUSY) ? savedErrno : EBUSY;
        case QSerialPort::DeviceNotFoundError:
            return savedErrno != 0 ? savedErrno : ENOENT;
        case QSerialPort::UnsupportedOperationError:
        case QSerialPort::NoError:  // the driver kept another setting than the one asked for
            return EINVAL;
        default:
            return savedErrno != 0 ? savedErrno : EIO;
    }
}

QSerialPort::Parity ToQtParity(unsigned parity) {
    switch (parity) {
        case 1:
            return QSerialPort::OddParity;
        case 2:
            return QSerialPort::EvenParity;
        case 3:
            return QSerialPort::MarkParity;
        case 4:
            return QSerialPort::SpaceParity;
        default:
            return QSerialPort::NoParity;
    }
}

class QtSerialPort final : public SerialPort {
  public:
    int Open(const std::string& name) override {
        port_.setPortName(QString::fromStdString(name));
        return Call([&] { return port_.open(QIODevice::ReadWrite); });
    }

    int Purge() override {
        return Call([&] { return port_.clear(QSerialPort::AllDirections); });
    }

    int Configure(const SerialLineSettings& s) override {
        baud_ = s.baud;
        if (int error = Call([&] { return port_.setBaudRate(static_cast<qint32>(s.baud)); })) {
            return error;
        }
        const auto dataBits = s.byteSize == 7 ? QSerialPort::Data7 : QSerialPort::Data8;
        if (int error = Call([&] { return port_.setDataBits(dataBits); })) {
            return error;
        }
        if (int error = Call([&] { return port_.setParity(ToQtParity(s.parity)); })) {
            return error;
        }
        if (int error = SetStopBits(s.stopBits)) {
            return error;
        }
        if (int error = Call([&] { return port_.setFlowControl(QSerialPort::NoFlowControl); })) {
            return error;
        }
        // Modem lines stay inactive, as the device expects from a plain three-wire line. A
        // pseudo-terminal has no modem lines, so their failure is not a failure of the port.
        port_.setDataTerminalReady(false);
        port_.setRequestToSend(false);
        port_.clearError();
        return 0;
    }

    IoResult Waiting() override {
        // Pull what the system holds into Qt's buffer without waiting; a time-out only says
        // that nothing new came.
        port_.clearError();
        errno = 0;
        if (!port_.waitForReadyRead(0) && port_.error() != QSerialPort::TimeoutError &&
            port_.error() != QSerialPort::NoError) {
            return {false, SystemError(port_, errno), 0};
        }
        return {true, 0, static_cast<std::size_t>(port_.bytesAvailable())};
    }

    IoResult Read(std::span<std::uint8_t> buffer) override {
        port_.clearError();
        errno = 0;
        const qint64 got =
            port_.read(reinterpret_cast<char*>(buffer.data()), static_cast<qint64>(buffer.size()));
        if (got < 0) {
            return {false, SystemError(port_, errno), 0};
        }
        return {true, 0, static_cast<std::size_t>(got)};
    }

    IoResult Write(std::span<const std::uint8_t> bytes) override {
        port_.clearError();
        errno = 0;
        const qint64 queued = port_.write(reinterpret_cast<const char*>(bytes.data()),
                                          static_cast<qint64>(bytes.size()));
        if (queued < 0) {
            return {false, SystemError(port_, errno), 0};
        }
        // Qt may hand part of the block to the system at once; wait for the rest, at most
        // for the block's time on the line plus a margin.
        if (port_.bytesToWrite() > 0 && !port_.waitForBytesWritten(WriteTimeoutMs(bytes.size()))) {
            return {false, SystemError(port_, errno), 0};
        }
        return {true, 0, static_cast<std::size_t>(queued)};
    }

    void Close() override {
        if (port_.isOpen()) {
            port_.clear(QSerialPort::AllDirections);
            port_.close();
        }
    }

    ~QtSerialPort() override { Close(); }

  private:
    // Runs one Qt call; 0 when it succeeded, else the system's error code for its failure.
    template <typename F>
    int Call(F call) {
        port_.clearError();
        errno = 0;
        const bool ok = call();
        const int saved = errno;
        return ok ? 0 : SystemError(port_, saved);
    }

    int SetStopBits(unsigned stopBits) {
        switch (stopBits) {
            case 0:
                return Call([&] { return port_.setStopBits(QSerialPort::OneStop); });
            case 2:
                return Call([&] { return port_.setStopBits(QSerialPort::TwoStop); });
            default:
#ifdef _WIN32
                return Call([&] { return port_.setStopBits(QSerialPort::OneAndHalfStop); });
#else
                // The line discipline knows no one and a half stop bits (Qt would quietly
                // set one).
                return EINVAL;
#endif
        }
    }

    int WriteTimeoutMs(std::size_t size) const {
        const unsigned baud = baud_ > 0 ? baud_ : 110;
        return static_cast<int>(size * 10 * 1000 / baud) + 1000;
    }

    QSerialPort port_;
    unsigned baud_ = 115200;
};

std::vector<SerialPortEntry> ListPorts() {
    std::vector<SerialPortEntry> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts()) {
        ports.push_back({info.systemLocation().toStdString(), info.description().toStdString()});
    }
    return ports;
}

}  // namespace

SerialPortAccess SystemSerialPorts() {
    return {[] { return std::make_unique<QtSerialPort>(); }, ListPorts};
}
