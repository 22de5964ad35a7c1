#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/clock.h"
#include "engine/progress_sink.h"
#include "engine/protocol.h"
#include "log/log_sink.h"

class UdpSocket;

// The network link: the bootloader dialogue over UDP datagrams to port 4107 of the device.
class CCommunication_UDP1 {
  public:
    static constexpr int kDevicePort = 4107;

    explicit CCommunication_UDP1(LogSink& log, Clock& clock = DefaultClock());
    // With a socket layer of the caller's choosing (tests inject failures through it).
    CCommunication_UDP1(LogSink& log, Clock& clock, std::unique_ptr<UdpSocket> socket);
    ~CCommunication_UDP1();
    CCommunication_UDP1(const CCommunication_UDP1&) = delete;
    CCommunication_UDP1& operator=(const CCommunication_UDP1&) = delete;

    int Open_Port(std::string_view address);
    void CloseLink();
    int ResetDevice(std::string_view text);
    int SynchroniseBootloader();
    int UpdateAVR(const std::string& path, ProgressSink* progress);

    const BootloaderInfo& GetBootloaderInfo() const;
    bool IsOpen() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};
