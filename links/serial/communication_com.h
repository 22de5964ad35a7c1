#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "engine/progress_sink.h"
#include "engine/protocol.h"
#include "links/serial/serial_port.h"
#include "log/log_sink.h"

// The serial link: the bootloader dialogue over a serial port, used synchronously.
class CCommunication_COM {
  public:
    explicit CCommunication_COM(LogSink& log, Clock& clock = DefaultClock());
    // Reaches the ports through `access` instead of the system's (tests inject failures).
    CCommunication_COM(LogSink& log, Clock& clock, SerialPortAccess access);
    ~CCommunication_COM();
    CCommunication_COM(const CCommunication_COM&) = delete;
    CCommunication_COM& operator=(const CCommunication_COM&) = delete;

    // The ports present, in natural order (ttyS2 before ttyS10).
    void COM_EnumeratePorts(std::vector<SerialPortEntry>& ports);
    // Linux: any device path, listed or not (a pseudo-terminal, an rfcomm port). Windows:
    // "COMn" with n from 1 to 64.
    int COM_Open(const std::string& port, unsigned baud, unsigned parity, unsigned byteSize,
                 unsigned stopBits);
    int COM_SynchroniseBootloader();
    int COM_UpdateAVR(const std::string& path, ProgressSink* progress);
    int COM_SendBuffer(std::span<const std::uint8_t> bytes);
    void COM_Close();

    const BootloaderInfo& GetBootloaderInfo() const;
    bool IsOpen() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
