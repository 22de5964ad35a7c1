#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

// The USBXpress library as the SiLabs link calls it: one operation per library call, each
// returning the library's status (0 for success). Handles are the library's own, opaque to
// the caller. The vendor's library (loaded at run time) stands behind it, or simulated
// devices; tests script it.

using SiHandle = void*;
using SiStatus = int;

inline constexpr SiStatus kSiSuccess = 0x00;
inline constexpr SiStatus kSiInvalidHandle = 0x01;
inline constexpr SiStatus kSiReadError = 0x02;
inline constexpr SiStatus kSiWriteError = 0x04;
inline constexpr SiStatus kSiInvalidParameter = 0x06;
inline constexpr SiStatus kSiDeviceIoFailed = 0x08;
inline constexpr SiStatus kSiReadTimedOut = 0x0D;
inline constexpr SiStatus kSiDeviceNotFound = 0xFF;

// Selectors of GetProductString.
inline constexpr std::uint32_t kSiReturnSerialNumber = 0;
inline constexpr std::uint32_t kSiReturnDescription = 1;
// The longest product string, its terminating zero included.
inline constexpr std::size_t kSiMaxDeviceStrlen = 256;

class UsbXpressLibrary {
  public:
    virtual ~UsbXpressLibrary() = default;

    virtual SiStatus GetNumDevices(std::uint32_t& count) = 0;
    // The device's serial number or description (selector), zero-terminated in the buffer.
    virtual SiStatus GetProductString(std::uint32_t device, std::span<char> buffer,
                                      std::uint32_t selector) = 0;
    virtual SiStatus Open(std::uint32_t device, SiHandle& handle) = 0;
    virtual SiStatus Close(SiHandle handle) = 0;
    // Returns when the buffer is full or the read time-out (SetTimeouts) has passed, with what
    // came; a time-out with nothing is kSiReadTimedOut.
    virtual SiStatus Read(SiHandle handle, std::span<std::uint8_t> buffer, std::uint32_t& got) = 0;
    // What has already arrived, without waiting (0 included). Draining stale input before a
    // frame must not cost the read time-out; a backend that cannot look without waiting
    // reads with its time-out.
    virtual SiStatus ReadWaiting(SiHandle handle, std::span<std::uint8_t> buffer,
                                 std::uint32_t& got) {
        const SiStatus status = Read(handle, buffer, got);
        return status == kSiReadTimedOut ? kSiSuccess : status;
    }
    virtual SiStatus Write(SiHandle handle, std::span<const std::uint8_t> bytes,
                           std::uint32_t& written) = 0;
    virtual SiStatus FlushBuffers(SiHandle handle, std::uint8_t transmit, std::uint8_t receive) = 0;
    // Library-wide, for every device.
    virtual SiStatus SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) = 0;
    virtual SiStatus SetBaudRate(SiHandle handle, std::uint32_t baud) = 0;
    virtual SiStatus SetLineControl(SiHandle handle, std::uint16_t lineControl) = 0;
    virtual SiStatus SetFlowControl(SiHandle handle, std::uint8_t cts, std::uint8_t rts,
                                    std::uint8_t dtr, std::uint8_t dsr, std::uint8_t dcd,
                                    bool xonXoff) = 0;
};

// USBXpress devices simulated on a bus folder (the format of the simulated FTDI devices).
std::unique_ptr<UsbXpressLibrary> MakeSimulatedUsbXpressLibrary(const std::string& busFolder);

inline constexpr const char* kUsbXpressBusVariable = "FLASHWRIGHT_USBXPRESS_BUS";
