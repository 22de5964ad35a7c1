#include "sim/usbxpress_transport.h"

#include <utility>

UsbXpressSimServer::UsbXpressSimServer(std::string busFolder, UsbXpressSimOptions options)
    : BusSimServer(std::move(busFolder), options) {}

UsbXpressSimServer::~UsbXpressSimServer() {
    Stop();
}

std::vector<PellixFrame> UsbXpressSimServer::PellixFrames() const {
    return Locked([this] { return application_.Frames(); });
}

BusSimServer::ApplicationOutput UsbXpressSimServer::OnApplicationBytes(
    std::span<const std::uint8_t> bytes, Clock::time_point at) {
    return {{}, application_.OnBytes(bytes, at)};
}
