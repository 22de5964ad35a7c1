#include "fake_ftdi_bus.h"

#include <algorithm>

std::vector<int> FakeFtdiBus::Present() const {
    std::vector<int> present;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].present) {
            present.push_back(static_cast<int>(i));
        }
    }
    return present;
}

FtdiStatus FakeFtdiBus::Record(const std::string& call) {
    calls.push_back(call);
    return fail.contains(call.substr(0, call.find('('))) ? kFtdiIoError : kFtdiOk;
}

FtdiStatus FakeFtdiBus::CountDevices(std::uint32_t& count) {
    if (onListing) {
        onListing(listings_);
    }
    ++listings_;
    count = static_cast<std::uint32_t>(Present().size());
    return Record("CountDevices()");
}

FtdiStatus FakeFtdiBus::SerialNumberByIndex(std::uint32_t index, std::span<char> buffer) {
    const std::vector<int> present = Present();
    if (index >= present.size()) {
        return kFtdiDeviceNotFound;
    }
    const std::string& serial = devices[static_cast<std::size_t>(present[index])].serial;
    std::copy_n(serial.begin(), std::min(serial.size(), buffer.size() - 1), buffer.begin());
    return kFtdiOk;
}

FtdiStatus FakeFtdiBus::AllDescriptions(std::vector<std::string>& descriptions) {
    descriptions.clear();
    for (const int i : Present()) {
        descriptions.push_back(devices[static_cast<std::size_t>(i)].description);
    }
    return kFtdiOk;
}

FtdiStatus FakeFtdiBus::OpenByIndex(int index, FtdiHandle& handle) {
    const std::vector<int> present = Present();
    const FtdiStatus status = Record("OpenByIndex(" + std::to_string(index) + ")");
    if (status != kFtdiOk || index < 0 || static_cast<std::size_t>(index) >= present.size()) {
        return kFtdiDeviceNotOpened;
    }
    open_ = present[static_cast<std::size_t>(index)];
    incoming_.clear();
    handle = this;
    return kFtdiOk;
}

FtdiStatus FakeFtdiBus::Close(FtdiHandle handle) {
    if (handle == nullptr) {
        return kFtdiInvalidHandle;
    }
    open_ = -1;
    return Record("Close()");
}

FtdiStatus FakeFtdiBus::Read(FtdiHandle, std::span<std::uint8_t> buffer, std::uint32_t& got) {
    got = 0;
    while (got < buffer.size() && !incoming_.empty()) {
        buffer[got++] = incoming_.front();
        incoming_.pop_front();
    }
    if (got < buffer.size()) {
        clock_.Advance(readTimeoutMs_);  // the driver waited its read time-out
    }
    return kFtdiOk;
}

FtdiStatus FakeFtdiBus::ReadWaiting(FtdiHandle, std::span<std::uint8_t> buffer,
                                    std::uint32_t& got) {
    got = 0;
    while (got < buffer.size() && !incoming_.empty()) {
        buffer[got++] = incoming_.front();
        incoming_.pop_front();
    }
    return kFtdiOk;
}

FtdiStatus FakeFtdiBus::Write(FtdiHandle, std::span<const std::uint8_t> bytes,
                              std::uint32_t& count) {
    count = 0;
    if (Record("Write(" + std::to_string(bytes.size()) + ")") != kFtdiOk || open_ < 0) {
        return kFtdiIoError;
    }
    count = static_cast<std::uint32_t>(bytes.size());
    written[open_].emplace_back(bytes.begin(), bytes.end());
    if (const Responder& respond = devices[static_cast<std::size_t>(open_)].respond) {
        for (const std::uint8_t b : respond(bytes, baud_)) {
            incoming_.push_back(b);
        }
    }
    return kFtdiOk;
}

FtdiStatus FakeFtdiBus::SetBaudRate(FtdiHandle, std::uint32_t baud) {
    baud_ = baud;
    return Record("SetBaudRate(" + std::to_string(baud) + ")");
}

FtdiStatus FakeFtdiBus::SetDataCharacteristics(FtdiHandle, std::uint8_t w, std::uint8_t s,
                                               std::uint8_t p) {
    return Record("SetDataCharacteristics(" + std::to_string(w) + ", " + std::to_string(s) + ", " +
                  std::to_string(p) + ")");
}

FtdiStatus FakeFtdiBus::SetFlowControl(FtdiHandle, std::uint16_t mode, std::uint8_t, std::uint8_t) {
    return Record("SetFlowControl(" + std::to_string(mode) + ")");
}

FtdiStatus FakeFtdiBus::SetUsbParameters(FtdiHandle, std::uint32_t in, std::uint32_t out) {
    return Record("SetUsbParameters(" + std::to_string(in) + ", " + std::to_string(out) + ")");
}

FtdiStatus FakeFtdiBus::SetTimeouts(FtdiHandle, std::uint32_t readMs, std::uint32_t writeMs) {
    readTimeoutMs_ = readMs;
    return Record("SetTimeouts(" + std::to_string(readMs) + ", " + std::to_string(writeMs) + ")");
}

FtdiStatus FakeFtdiBus::SetLatencyTimer(FtdiHandle, std::uint8_t ms) {
    return Record("SetLatencyTimer(" + std::to_string(ms) + ")");
}

FtdiStatus FakeFtdiBus::SetChars(FtdiHandle, std::uint8_t e, std::uint8_t ee, std::uint8_t r,
                                 std::uint8_t re) {
    return Record("SetChars(" + std::to_string(e) + ", " + std::to_string(ee) + ", " +
                  std::to_string(r) + ", " + std::to_string(re) + ")");
}

FtdiStatus FakeFtdiBus::Purge(FtdiHandle, std::uint32_t mask) {
    if ((mask & kFtdiPurgeRx) != 0) {
        incoming_.clear();
    }
    return Record("Purge(" + std::to_string(mask) + ")");
}

std::vector<std::uint8_t> Bootloader(std::span<const std::uint8_t> written, std::uint32_t baud) {
    if (baud != 115200) {
        return {};
    }
    if (written.size() == 1 && written[0] == 0xF0) {
        return {0xFE, 0x01, 0x05, 0x07, 0xFF};
    }
    if (written.size() > 1) {
        return {0x11};
    }
    return {};
}
