#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "engine/progress_sink.h"
#include "engine/protocol.h"
#include "links/serial/communication_com.h"
#include "log/log_sink.h"

// What an update needs of the serial link. The COM Port page owns one for its whole life, a
// command-line run one for the run; tests hand the page a scripted one instead of a real port.
class SerialLink {
  public:
    virtual ~SerialLink() = default;
    virtual void EnumeratePorts(std::vector<SerialPortEntry>& ports) = 0;
    virtual int Open(const std::string& port,
                     unsigned baud) = 0;  // 8 data bits, no parity, 1 stop bit
    virtual int SendBuffer(std::span<const std::uint8_t> bytes) = 0;
    virtual int SynchroniseBootloader() = 0;
    virtual int UpdateAVR(const std::string& path, ProgressSink* progress) = 0;
    virtual BootloaderInfo Info() const = 0;
};

// The serial link on a real port.
std::unique_ptr<SerialLink> MakeSerialLink(LogSink& log, Clock& clock);
