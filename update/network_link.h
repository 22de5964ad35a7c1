#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "engine/clock.h"
#include "engine/progress_sink.h"
#include "engine/protocol.h"
#include "log/log_sink.h"

// What an update needs of the network link. The Network page owns one for its whole life, a
// command-line run one for the run; tests hand the page a scripted one instead.
class NetworkLink {
  public:
    virtual ~NetworkLink() = default;
    virtual int Open_Port(std::string_view address) = 0;
    virtual int ResetDevice(std::string_view text) = 0;
    virtual int SynchroniseBootloader() = 0;
    virtual int UpdateAVR(const std::string& path, ProgressSink* progress) = 0;
    virtual BootloaderInfo Info() const = 0;
};

// The network link over UDP.
std::unique_ptr<NetworkLink> MakeNetworkLink(LogSink& log, Clock& clock);
