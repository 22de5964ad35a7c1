#pragma once

#include <array>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/clock.h"
#include "engine/progress_sink.h"
#include "engine/protocol.h"
#include "links/ftdi/ftdi_library.h"
#include "links/ftdi/replug_guidance.h"
#include "log/log_sink.h"

// One attached FTDI device as the last list update found it.
struct FTDI_DeviceEntry {
    std::string name;          // the description the library lists
    std::string serialNumber;  //
    std::string hardware;      // versions a Corvane device reports; empty for other devices
    std::string software;
};

class CFTDI_Device;
class FtdiTransport;

// The FTDI USB link: lists the attached FTDI devices (up to its owner's limit), exchanges command
// frames with Corvane devices, opens a device at the link's fixed settings and runs the bootloader
// dialogue over it. The bootloader dialogue's pauses take no user input (QuietWait); only the
// replug guidance dispatches every event.
class CCommunication {
  public:
    static constexpr int kMaxDevices = 8;  // the USB I page's list
    static constexpr int kEveryDevice = std::numeric_limits<int>::max();
    static constexpr int kBootloaderBaud = 115200;
    static constexpr int kCommandBaud = 1000000;

    explicit CCommunication(LogSink& log, Clock& clock = DefaultClock(),
                            std::unique_ptr<FtdiLibrary> library = MakeFtdiLibrary(),
                            int listLimit = kMaxDevices);
    ~CCommunication();
    CCommunication(const CCommunication&) = delete;
    CCommunication& operator=(const CCommunication&) = delete;

    int Dev_UpdateDeviceList();
    // From now on the list asks only the device with this serial number for its versions. Where
    // several links serve one bus at once (a station), each speaks to its own device only: a
    // version query to another would break into that device's update.
    void Dev_QueryOnly(std::string serialNumber) { queryOnly_ = std::move(serialNumber); }
    int Dev_GetDeviceCount() const;
    int Dev_GetDeviceEntry(int index, FTDI_DeviceEntry& entry) const;
    // The index of the device with this name and serial number in a fresh list, -1 when the
    // list cannot be read, -2 when no device matches.
    int Dev_FindDevice(std::string_view name, std::string_view serialNumber);
    // 0 opened; -1 a bad argument; -2 the device cannot be opened (in use); -3 a setting
    // failed; kOpenNotATerminal the simulated device's port is not a terminal.
    int Dev_Open(int index, int baud);
    static constexpr int kOpenNotATerminal = -4;
    void Dev_Close();
    int Dev_SynchroniseBootloader(int index);
    int Dev_UpdateAVR(int index, const std::string& path, ProgressSink* progress);

    // One command frame to a Corvane device at 1000000 baud and its answer's payload. In:
    // `*length` is the answer buffer's capacity; out: the payload's length.
    int Send_Corvane_CMD(int index, std::uint8_t command, std::span<const std::uint8_t> data,
                         std::uint8_t* answer, int* length);
    // Guides the user through unplugging and replugging the device; the index it came back
    // under, -1 when it is not attached at the start, -99 when the user cancelled.
    int Dev_RebootTargetDevice(std::string_view name, std::string_view serialNumber,
                               ReplugPrompt& prompt);

    const BootloaderInfo& GetBootloaderInfo() const { return info_; }
    bool IsOpen() const { return isOpen_; }

  private:
    friend class FtdiTransport;

    void QueryDeviceInformation(int index, std::uint8_t command, FTDI_DeviceEntry& entry);

    LogSink& log_;
    Clock& clock_;
    std::unique_ptr<FtdiLibrary> library_;
    std::string queryOnly_;  // empty: every device
    std::unique_ptr<CFTDI_Device> device_;
    std::unique_ptr<FtdiTransport> transport_;
    BootloaderInfo info_;
    bool isOpen_ = false;
    const int listLimit_;
    std::vector<FTDI_DeviceEntry> deviceTable_;
    int deviceCount_ = 0;
};
