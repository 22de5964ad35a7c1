// Placeholder until the simulated bus backend lands: no device is attached.
#include "links/ftdi_library.h"

namespace {

class EmptyBus final : public FtdiLibrary {
  public:
    FtdiStatus CountDevices(std::uint32_t& count) override {
        count = 0;
        return kFtdiOk;
    }
    FtdiStatus SerialNumberByIndex(std::uint32_t, std::span<char>) override {
        return kFtdiDeviceNotFound;
    }
    FtdiStatus AllDescriptions(std::vector<std::string>& d) override {
        d.clear();
        return kFtdiOk;
    }
    FtdiStatus OpenByIndex(int, FtdiHandle&) override { return kFtdiDeviceNotFound; }
    FtdiStatus Close(FtdiHandle) override { return kFtdiInvalidHandle; }
    FtdiStatus Read(FtdiHandle, std::span<std::uint8_t>, std::uint32_t& got) override {
        got = 0;
        return kFtdiInvalidHandle;
    }
    FtdiStatus Write(FtdiHandle, std::span<const std::uint8_t>, std::uint32_t& w) override {
        w = 0;
        return kFtdiInvalidHandle;
    }
    FtdiStatus SetBaudRate(FtdiHandle, std::uint32_t) override { return kFtdiInvalidHandle; }
    FtdiStatus SetDataCharacteristics(FtdiHandle, std::uint8_t, std::uint8_t,
                                      std::uint8_t) override {
        return kFtdiInvalidHandle;
    }
    FtdiStatus SetFlowControl(FtdiHandle, std::uint16_t, std::uint8_t, std::uint8_t) override {
        return kFtdiInvalidHandle;
    }
    FtdiStatus SetUsbParameters(FtdiHandle, std::uint32_t, std::uint32_t) override {
        return kFtdiInvalidHandle;
    }
    FtdiStatus SetTimeouts(FtdiHandle, std::uint32_t, std::uint32_t) override {
        return kFtdiInvalidHandle;
    }
    FtdiStatus SetLatencyTimer(FtdiHandle, std::uint8_t) override { return kFtdiInvalidHandle; }
    FtdiStatus SetChars(FtdiHandle, std::uint8_t, std::uint8_t, std::uint8_t,
                        std::uint8_t) override {
        return kFtdiInvalidHandle;
    }
    FtdiStatus Purge(FtdiHandle, std::uint32_t) override { return kFtdiInvalidHandle; }
};

}  // namespace

std::unique_ptr<FtdiLibrary> MakeSimulatedFtdiLibrary(const std::string&) {
    return std::make_unique<EmptyBus>();
}
