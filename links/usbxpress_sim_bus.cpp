// Placeholder until the simulated USBXpress devices land: no device is attached.
#include "links/usbxpress_library.h"

namespace {

class EmptyBus final : public UsbXpressLibrary {
  public:
    SiStatus GetNumDevices(std::uint32_t& count) override {
        count = 0;
        return kSiSuccess;
    }
    SiStatus GetProductString(std::uint32_t, std::span<char>, std::uint32_t) override {
        return kSiDeviceNotFound;
    }
    SiStatus Open(std::uint32_t, SiHandle&) override { return kSiDeviceNotFound; }
    SiStatus Close(SiHandle) override { return kSiInvalidHandle; }
    SiStatus Read(SiHandle, std::span<std::uint8_t>, std::uint32_t& got) override {
        got = 0;
        return kSiInvalidHandle;
    }
    SiStatus Write(SiHandle, std::span<const std::uint8_t>, std::uint32_t& w) override {
        w = 0;
        return kSiInvalidHandle;
    }
    SiStatus FlushBuffers(SiHandle, std::uint8_t, std::uint8_t) override {
        return kSiInvalidHandle;
    }
    SiStatus SetTimeouts(std::uint32_t, std::uint32_t) override { return kSiSuccess; }
    SiStatus SetBaudRate(SiHandle, std::uint32_t) override { return kSiInvalidHandle; }
    SiStatus SetLineControl(SiHandle, std::uint16_t) override { return kSiInvalidHandle; }
    SiStatus SetFlowControl(SiHandle, std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t,
                            std::uint8_t, bool) override {
        return kSiInvalidHandle;
    }
};

}  // namespace

std::unique_ptr<UsbXpressLibrary> MakeSimulatedUsbXpressLibrary(const std::string&) {
    return std::make_unique<EmptyBus>();
}
