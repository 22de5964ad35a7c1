#pragma once

// FT232R chips emulated at the USB level for tests that drive the real libftdi1 and libusb:
// umockdev fakes the sysfs entries and the usbdevfs nodes, and a device model here answers
// the usbdevfs requests (URBs) as the chip would. The test program must run with umockdev's
// preload library (umockdev-wrapper), and the bus must exist before libusb is initialised.

#include <glib-object.h>
#include <umockdev.h>

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace fwtest {

struct GObjectUnref {
    void operator()(gpointer object) const { g_object_unref(object); }
};
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// One control request the chip received (its setup packet without the length).
struct ControlRequest {
    std::uint8_t requestType = 0;
    std::uint8_t request = 0;
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    bool operator==(const ControlRequest&) const = default;
};

class EmulatedFt232r {
  public:
    EmulatedFt232r(std::string serial, std::string description);
    EmulatedFt232r(const EmulatedFt232r&) = delete;
    EmulatedFt232r& operator=(const EmulatedFt232r&) = delete;
    ~EmulatedFt232r();

    const std::string& Serial() const { return serial_; }

    // The vendor OUT requests (type 0x40) since the last ClearLog, in arrival order.
    std::vector<ControlRequest> VendorRequests() const;
    // The bytes that arrived at the bulk OUT endpoint since the last ClearLog.
    std::vector<std::uint8_t> Written() const;
    void ClearLog();
    // Bytes the chip has received on its serial input, for the host to read.
    void QueueInput(std::span<const std::uint8_t> bytes);
    // Unplugged, URBs in flight end with -ESHUTDOWN and every new request fails with ENODEV,
    // as usbdevfs does for a vanished device.
    void SetUnplugged(bool unplugged);
    // Stalls every string descriptor request, as a chip the host may not read does.
    void SetStringsUnreadable(bool unreadable);
    // What is on the chip's serial line: gets every byte the host writes and answers with the
    // bytes to queue as input (a bootloader, for an update end to end). Runs under the chip's
    // lock.
    using SerialPeer = std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t>)>;
    void SetSerialPeer(SerialPeer peer);

    // umockdev's handle-ioctl signal (runs on umockdev's worker thread).
    bool HandleIoctl(UMockdevIoctlClient* client);

  private:
    struct Urb {
        GObjectPtr<UMockdevIoctlData> urb;
        GObjectPtr<UMockdevIoctlData> buffer;
        std::chrono::steady_clock::time_point submitted;
        bool discarded = false;
        bool unplugged = false;
        bool bulkIn = false;
        int status = 0;
        int actualLength = 0;
    };

    void Submit(UMockdevIoctlClient* client);
    void Reap(UMockdevIoctlClient* client);
    void Discard(UMockdevIoctlClient* client);
    // Answers a control URB at submission: records it and fills an IN reply.
    void AnswerControl(Urb& urb);
    // Fills a bulk IN URB from the queued input as 64-byte packets with the chip's two
    // status bytes each; false while the URB must wait (no data, latency not yet passed).
    bool FillBulkIn(Urb& urb);
    std::vector<std::uint8_t> StringDescriptor(std::uint8_t index) const;

    const std::string serial_;
    const std::string description_;
    mutable std::mutex mutex_;
    std::vector<ControlRequest> vendorRequests_;
    std::vector<std::uint8_t> written_;
    std::deque<std::uint8_t> input_;
    std::deque<Urb> urbs_;
    std::uint8_t latencyMs_ = 16;  // the chip's default
    bool unplugged_ = false;
    bool stringsUnreadable_ = false;
    SerialPeer peer_;
};

// A USB bus holding emulated FT232R chips (bus 1, device numbers from 2 on).
class EmulatedUsbBus {
  public:
    EmulatedUsbBus();
    EmulatedUsbBus(const EmulatedUsbBus&) = delete;
    EmulatedUsbBus& operator=(const EmulatedUsbBus&) = delete;
    ~EmulatedUsbBus();
    // Adds a chip; false (with the reason printed) when umockdev refuses it.
    bool Add(const std::string& serial, const std::string& description);
    std::vector<std::unique_ptr<EmulatedFt232r>>& Devices() { return devices_; }
    EmulatedFt232r* BySerial(const std::string& serial);
    // Emits a uevent ("add", "remove") for the chip at `index`, as the kernel does when it is
    // plugged in or pulled; the chip stays in sysfs.
    void Uevent(std::size_t index, const char* action);

  private:
    GObjectPtr<UMockdevTestbed> testbed_;
    std::vector<GObjectPtr<UMockdevIoctlBase>> handlers_;
    std::vector<std::unique_ptr<EmulatedFt232r>> devices_;
    std::vector<std::string> syspaths_;
};

// Restarts the program under umockdev-wrapper when umockdev's preload library is missing
// (ASan is told to accept the preload); returns only when already running under it.
void ReexecUnderUmockdevWrapper(int argc, char** argv);

}  // namespace fwtest
