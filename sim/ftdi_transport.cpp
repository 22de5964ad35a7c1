#include "sim/ftdi_transport.h"

#include <utility>

FtdiSimServer::FtdiSimServer(std::string busFolder, FtdiSimOptions options)
    : BusSimServer(std::move(busFolder), options), application_(std::move(options.application)) {}

FtdiSimServer::~FtdiSimServer() {
    Stop();
}

std::vector<CorvaneCommand> FtdiSimServer::CorvaneCommands() const {
    return Locked([this] { return application_.Commands(); });
}

BusSimServer::ApplicationOutput FtdiSimServer::OnApplicationBytes(
    std::span<const std::uint8_t> bytes, Clock::time_point) {
    CorvaneApplication::Output out = application_.OnBytes(bytes);
    return {std::move(out.answers), out.enterBootloader};
}
