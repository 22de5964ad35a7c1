#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "engine/clock.h"
#include "engine/progress_sink.h"
#include "engine/protocol.h"
#include "links/usbxpress/usbxpress_library.h"
#include "log/log_sink.h"

class SilabsTransport;

// The SiLabs USB link: counts and describes USBXpress devices, opens one at a fixed serial
// setting, sends it an XML command frame, and runs the bootloader dialogue over it. Every
// single library call is made under the link's lock, never two under one hold.
class CSILab_USB {
  public:
    static constexpr int kBaud = 115200;
    static constexpr std::uint16_t kLineControl = 0x0800;  // 8 data bits, no parity, 1 stop bit
    static constexpr std::uint16_t kXmlCommand = 0xAAAA;

    // Without a library of the caller's choosing: the simulated bus, the vendor's library, or
    // a stand-in that finds no device.
    explicit CSILab_USB(LogSink& log, Clock& clock = DefaultClock(),
                        std::unique_ptr<UsbXpressLibrary> library = nullptr);
    ~CSILab_USB();
    CSILab_USB(const CSILab_USB&) = delete;
    CSILab_USB& operator=(const CSILab_USB&) = delete;

    int Dev_GetNumDevices();
    int Dev_Get_Description(int index, std::string& serialNumber, std::string& description);
    int Dev_Open(int index, int baud);
    void Dev_Close();
    // Writes one XML command frame; true when the whole frame went out.
    bool Send_XML_Cmd(std::uint16_t command, std::string_view text);
    int Dev_SynchroniseBootloader();
    int Dev_UpdateAVR(const std::string& path, ProgressSink* progress);

    const BootloaderInfo& GetBootloaderInfo() const { return info_; }
    bool IsOpen() const { return isOpen_; }
    const std::string& SerialNumber() const { return serialNumber_; }
    const std::string& Description() const { return description_; }

  private:
    friend class SilabsTransport;

    // One library call under the lock.
    template <typename Call>
    SiStatus Library(Call call) {
        std::lock_guard hold(lock_);
        return call(*library_);
    }

    LogSink& log_;
    Clock& clock_;
    std::unique_ptr<UsbXpressLibrary> library_;
    std::unique_ptr<SilabsTransport> transport_;
    std::string serialNumber_;
    std::string description_;
    BootloaderInfo info_;
    SiHandle deviceHandle_ = nullptr;
    bool isOpen_ = false;
    std::mutex lock_;
};

// The XML command frame: the command word (least significant byte first), the length of what
// follows, the text as UTF-16 (each 8-bit character one code unit) and a CRC-32 over all before
// it; with the command word 0xAAAA least significant byte first, else most significant first.
// Empty when the text does not fit the link's 1024-byte frame buffer.
std::vector<std::uint8_t> BuildXmlCommandFrame(std::uint16_t command, std::string_view text);
