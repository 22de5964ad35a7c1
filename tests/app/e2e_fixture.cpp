#include "e2e_fixture.h"

#include <cstdlib>

#include "engine/update_file.h"
#include "sim/enc_maker.h"

std::string FlashwrightProgram() {
    if (const char* path = std::getenv("FLASHWRIGHT_PROGRAM")) {
        return path;
    }
    return FLASHWRIGHT_PROGRAM;
}

std::string SimulatorProgram() {
    return FLASHWRIGHT_SIM_PROGRAM;
}

std::vector<Bytes> SplitFrames(const Bytes& image) {
    std::vector<Bytes> frames;
    std::size_t offset = 0;
    while (const std::optional<Frame> frame = FrameAt(image, offset)) {
        frames.emplace_back(image.begin() + static_cast<long>(offset),
                            image.begin() + static_cast<long>(offset + frame->Size()));
        offset += frame->Size();
    }
    return frames;
}

UdpSimServer& NetworkUpdateTest::StartDevice(const std::string& address, SimOptions options) {
    device_ = std::make_unique<UdpSimServer>(std::move(options), address);
    std::string error;
    EXPECT_TRUE(device_->Start(error)) << error;
    return *device_;
}

std::string NetworkUpdateTest::MakeUpdateFile(const std::string& name, std::size_t payloadBytes) {
    const std::string path = (dir_.Path() / name).string();
    std::string error;
    EXPECT_TRUE(WriteUpdateFile(path, PseudoRandomBytes(payloadBytes, 7), 276, error)) << error;
    return path;
}

Bytes NetworkUpdateTest::ImageOf(const std::string& path) const {
    return ReadUpdateFile(path).image.bytes;
}

ChildResult NetworkUpdateTest::Flashwright(const std::vector<std::string>& args,
                                           const ChildOptions& options) {
    return RunChild(FlashwrightProgram(), args, options);
}

std::vector<SimFrame> NetworkUpdateTest::DeviceFrames() const {
    if (!device_) {
        return {};
    }
    return device_->Inspect([](const BootloaderSim& sim) { return sim.Frames(); });
}
