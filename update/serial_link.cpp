#include "update/serial_link.h"

namespace {

class ComPortLink final : public SerialLink {
  public:
    ComPortLink(LogSink& log, Clock& clock) : link_(log, clock) {}

    void EnumeratePorts(std::vector<SerialPortEntry>& ports) override {
        link_.COM_EnumeratePorts(ports);
    }
    int Open(const std::string& port, unsigned baud) override {
        return link_.COM_Open(port, baud, 0, 8, 0);
    }
    int SendBuffer(std::span<const std::uint8_t> bytes) override {
        return link_.COM_SendBuffer(bytes);
    }
    int SynchroniseBootloader() override { return link_.COM_SynchroniseBootloader(); }
    int UpdateAVR(const std::string& path, ProgressSink* progress) override {
        return link_.COM_UpdateAVR(path, progress);
    }
    BootloaderInfo Info() const override { return link_.GetBootloaderInfo(); }

  private:
    CCommunication_COM link_;
};

}  // namespace

std::unique_ptr<SerialLink> MakeSerialLink(LogSink& log, Clock& clock) {
    return std::make_unique<ComPortLink>(log, clock);
}
