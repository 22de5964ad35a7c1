#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "engine/progress_sink.h"
#include "engine/protocol.h"
#include "log/log_sink.h"

// A serial port as the system lists it: its device path and the description it gives.
struct SerialPortEntry {
    std::string name;  // device path on Linux ("/dev/ttyUSB0"), "COMn" on Windows
    std::string description;
};

// The serial link: the bootloader dialogue over a serial port, used synchronously.
class CCommunication_COM {
  public:
    explicit CCommunication_COM(LogSink& log, Clock& clock = DefaultClock());
    ~CCommunication_COM();
    CCommunication_COM(const CCommunication_COM&) = delete;
    CCommunication_COM& operator=(const CCommunication_COM&) = delete;

    // The ports present, in natural order (ttyS2 before ttyS10).
    void COM_EnumeratePorts(std::vector<SerialPortEntry>& ports);
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
