#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

// The FTDI driver library as the FTDI link calls it: one operation per driver call, each
// returning the library's status (0 for success). Handles are the library's own, opaque to
// the caller. The system's library (libftdi1) stands behind it, or simulated devices; tests
// script it.

using FtdiHandle = void*;
using FtdiStatus = int;

inline constexpr FtdiStatus kFtdiOk = 0;
// The statuses this layer's own implementations give; every non-zero status is a failure.
inline constexpr FtdiStatus kFtdiInvalidHandle = 1;
inline constexpr FtdiStatus kFtdiDeviceNotFound = 2;
inline constexpr FtdiStatus kFtdiDeviceNotOpened = 3;
inline constexpr FtdiStatus kFtdiIoError = 4;
inline constexpr FtdiStatus kFtdiInvalidParameter = 6;
inline constexpr FtdiStatus kFtdiOtherError = 18;
// Only the simulated bus: the bus file's port is no terminal (a regular file, a named pipe).
inline constexpr FtdiStatus kFtdiPortNotATerminal = 1000;

class FtdiLibrary {
  public:
    virtual ~FtdiLibrary() = default;

    // The number of devices attached.
    virtual FtdiStatus CountDevices(std::uint32_t& count) = 0;
    // One device's serial number, by its index in the library's current list; the text fits
    // the buffer with its terminating zero.
    virtual FtdiStatus SerialNumberByIndex(std::uint32_t index, std::span<char> buffer) = 0;
    // Every attached device's description, in the library's device order: one entry per
    // device the library reports, so no device can overrun the caller's room. A device whose
    // description cannot be read has an empty one; the others are listed all the same.
    virtual FtdiStatus AllDescriptions(std::vector<std::string>& descriptions) = 0;
    virtual FtdiStatus OpenByIndex(int index, FtdiHandle& handle) = 0;
    virtual FtdiStatus Close(FtdiHandle handle) = 0;
    // Returns when buffer.size() bytes have arrived or the read time-out has passed, with what
    // came in `got` (0 included).
    virtual FtdiStatus Read(FtdiHandle handle, std::span<std::uint8_t> buffer,
                            std::uint32_t& got) = 0;
    // What has already reached the host, without waiting for more (0 included). Draining
    // stale input before a frame goes out must not cost the read time-out. The default has
    // nothing to give; each backend that can look without waiting overrides it.
    virtual FtdiStatus ReadWaiting(FtdiHandle handle, std::span<std::uint8_t> buffer,
                                   std::uint32_t& got) {
        (void)handle;
        (void)buffer;
        got = 0;
        return kFtdiOk;
    }
    virtual FtdiStatus Write(FtdiHandle handle, std::span<const std::uint8_t> bytes,
                             std::uint32_t& written) = 0;
    virtual FtdiStatus SetBaudRate(FtdiHandle handle, std::uint32_t baud) = 0;
    virtual FtdiStatus SetDataCharacteristics(FtdiHandle handle, std::uint8_t wordLength,
                                              std::uint8_t stopBits, std::uint8_t parity) = 0;
    virtual FtdiStatus SetFlowControl(FtdiHandle handle, std::uint16_t mode, std::uint8_t xon,
                                      std::uint8_t xoff) = 0;
    virtual FtdiStatus SetUsbParameters(FtdiHandle handle, std::uint32_t inSize,
                                        std::uint32_t outSize) = 0;
    virtual FtdiStatus SetTimeouts(FtdiHandle handle, std::uint32_t readMs,
                                   std::uint32_t writeMs) = 0;
    virtual FtdiStatus SetLatencyTimer(FtdiHandle handle, std::uint8_t ms) = 0;
    virtual FtdiStatus SetChars(FtdiHandle handle, std::uint8_t eventChar,
                                std::uint8_t eventEnabled, std::uint8_t errorChar,
                                std::uint8_t errorEnabled) = 0;
    // mask: kFtdiPurgeRx, kFtdiPurgeTx or both.
    virtual FtdiStatus Purge(FtdiHandle handle, std::uint32_t mask) = 0;
};

inline constexpr std::uint32_t kFtdiPurgeRx = 1;
inline constexpr std::uint32_t kFtdiPurgeTx = 2;

// The system's FTDI library (libftdi1 over libusb).
std::unique_ptr<FtdiLibrary> MakeLibFtdiLibrary();

// FTDI devices simulated on a bus folder (one file per attached device): the backend for
// trying the tool and for tests without hardware.
std::unique_ptr<FtdiLibrary> MakeSimulatedFtdiLibrary(const std::string& busFolder);

// The environment variable that puts the simulated devices in place of the system's library.
inline constexpr const char* kFtdiBusVariable = "FLASHWRIGHT_FTDI_BUS";

// The simulated devices when FLASHWRIGHT_FTDI_BUS names a folder, else the system's library.
std::unique_ptr<FtdiLibrary> MakeFtdiLibrary();
