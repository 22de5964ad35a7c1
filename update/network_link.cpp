#include "update/network_link.h"

#include "links/udp/communication_udp.h"

namespace {

class UdpLink final : public NetworkLink {
  public:
    UdpLink(LogSink& log, Clock& clock) : link_(log, clock) {}

    int Open_Port(std::string_view address) override { return link_.Open_Port(address); }
    int ResetDevice(std::string_view text) override { return link_.ResetDevice(text); }
    int SynchroniseBootloader() override { return link_.SynchroniseBootloader(); }
    int UpdateAVR(const std::string& path, ProgressSink* progress) override {
        return link_.UpdateAVR(path, progress);
    }
    BootloaderInfo Info() const override { return link_.GetBootloaderInfo(); }

  private:
    CCommunication_UDP1 link_;
};

}  // namespace

std::unique_ptr<NetworkLink> MakeNetworkLink(LogSink& log, Clock& clock) {
    return std::make_unique<UdpLink>(log, clock);
}
