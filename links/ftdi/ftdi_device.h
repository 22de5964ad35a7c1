#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "links/ftdi/ftdi_library.h"

// The thin layer between the FTDI link and the driver library: it holds the handle of the
// open device and makes one library call per operation (two for opening). It checks the
// arguments, turns the library's status into a small code and neither logs, waits nor
// retries: the link does all of that.
//
// Codes: 0 success; -1 the buffer or output is missing; -2 a byte count below 1; -3 the
// output for the bytes read is missing; -10 the device index is not in the library's list;
// -20 no device is open (the library is not called); -21 the library reported a failure;
// -22 (opening) the simulated device's port is not a terminal.
class CFTDI_Device {
  public:
    explicit CFTDI_Device(FtdiLibrary& library) : library_(library) {}
    // Closes the handle, whatever it holds.
    ~CFTDI_Device();
    CFTDI_Device(const CFTDI_Device&) = delete;
    CFTDI_Device& operator=(const CFTDI_Device&) = delete;

    int ListDevices_Number(std::uint32_t* count);
    int ListDevices_SerialNumber(int index, std::string* text);
    int ListDevices_Description(int index, std::string* text);
    // Closes whatever the handle holds first.
    int Open_ByIndex(int index);
    // Leaves the handle null in every case.
    int Close();
    int Write(std::span<const std::uint8_t> bytes);
    int Read(std::span<std::uint8_t> buffer, std::uint32_t* got);
    // As Read, but takes only what has already arrived, without waiting.
    int ReadWaiting(std::span<std::uint8_t> buffer, std::uint32_t* got);
    int SetBaudRate(std::uint32_t baud);
    int SetDataCharacteristics(std::uint8_t wordLength, std::uint8_t stopBits, std::uint8_t parity);
    int SetFlowControl(std::uint16_t mode);
    int SetUSBParameters(std::uint32_t inSize, std::uint32_t outSize);
    int SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs);
    int SetLatencyTimer(unsigned ms);
    int SetChars(std::uint8_t eventChar, std::uint8_t eventEnabled, std::uint8_t errorChar,
                 std::uint8_t errorEnabled);
    int Purge_RX();
    int Purge_TX();

    bool IsOpen() const { return handle_ != nullptr; }

    static constexpr std::size_t kSerialNumberBufferSize = 128;
    static constexpr std::size_t kDescriptionBufferSize = 64;

  private:
    template <typename Call>
    int ReadWith(std::span<std::uint8_t> buffer, std::uint32_t* got, Call call);
    // -20 without a device, else the call's status as 0 or -21.
    template <typename Call>
    int OnDevice(Call call) {
        if (handle_ == nullptr) {
            return -20;
        }
        return Code(call(handle_));
    }
    static int Code(FtdiStatus status) { return status == kFtdiOk ? 0 : -21; }

    FtdiLibrary& library_;
    FtdiHandle handle_ = nullptr;
};
