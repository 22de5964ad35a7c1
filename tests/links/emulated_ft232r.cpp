#include "emulated_ft232r.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

namespace fwtest {
namespace {

constexpr std::size_t kPacketSize = 64;
constexpr std::uint8_t kModemStatus[2] = {0x01, 0x60};
constexpr std::uint8_t kEndpointIn = 0x81;
constexpr std::uint8_t kEndpointOut = 0x02;
constexpr std::size_t kSetupSize = 8;

// Device descriptor (FT232R: 0403:6001, bcdDevice 6.00, strings 1/2/3) followed by the
// configuration: one vendor-specific interface with bulk endpoints 0x81 IN and 0x02 OUT.
constexpr const char* kDescriptorsHex =
    "12010002000000400304016000060102030109022000010100a02d"
    "0904000002ffffff02"
    "0705810240000007050202400000";

void Complete(UMockdevIoctlClient* client, long result, int error) {
    umockdev_ioctl_client_complete(client, result, error);
}

GObjectPtr<UMockdevIoctlData> Resolve(UMockdevIoctlData* data, std::size_t offset,
                                      std::size_t length) {
    GError* error = nullptr;
    GObjectPtr<UMockdevIoctlData> resolved(
        umockdev_ioctl_data_resolve(data, offset, length, &error));
    if (error != nullptr) {
        std::fprintf(stderr, "emulated FT232R: resolve failed: %s\n", error->message);
        g_error_free(error);
    }
    return resolved;
}

usbdevfs_urb* UrbOf(UMockdevIoctlData* data) {
    return reinterpret_cast<usbdevfs_urb*>(data->data);
}

gboolean OnHandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer device) {
    return static_cast<EmulatedFt232r*>(device)->HandleIoctl(client) ? TRUE : FALSE;
}

}  // namespace

EmulatedFt232r::EmulatedFt232r(std::string serial, std::string description)
    : serial_(std::move(serial)), description_(std::move(description)) {}

EmulatedFt232r::~EmulatedFt232r() = default;

std::vector<ControlRequest> EmulatedFt232r::VendorRequests() const {
    std::lock_guard lock(mutex_);
    return vendorRequests_;
}

std::vector<std::uint8_t> EmulatedFt232r::Written() const {
    std::lock_guard lock(mutex_);
    return written_;
}

void EmulatedFt232r::ClearLog() {
    std::lock_guard lock(mutex_);
    vendorRequests_.clear();
    written_.clear();
}

void EmulatedFt232r::QueueInput(std::span<const std::uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    input_.insert(input_.end(), bytes.begin(), bytes.end());
}

void EmulatedFt232r::SetUnplugged(bool unplugged) {
    std::lock_guard lock(mutex_);
    unplugged_ = unplugged;
    for (Urb& urb : urbs_) {
        urb.unplugged = unplugged;
    }
}

void EmulatedFt232r::SetSerialPeer(SerialPeer peer) {
    std::lock_guard lock(mutex_);
    peer_ = std::move(peer);
}

void EmulatedFt232r::SetStringsUnreadable(bool unreadable) {
    std::lock_guard lock(mutex_);
    stringsUnreadable_ = unreadable;
}

bool EmulatedFt232r::HandleIoctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    {
        std::lock_guard lock(mutex_);
        // Gone from the bus: what was in flight is given back as shut down (the status the
        // kernel gives URBs of a vanished device), then every request fails with ENODEV.
        const bool reap = request == USBDEVFS_REAPURB || request == USBDEVFS_REAPURBNDELAY;
        if (unplugged_ && !(reap && !urbs_.empty())) {
            Complete(client, -1, ENODEV);
            return true;
        }
    }
    switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            auto caps = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(std::uint32_t));
            if (!caps) {
                Complete(client, -1, EFAULT);
                return true;
            }
            const std::uint32_t value =
                USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM;
            std::memcpy(caps->data, &value, sizeof value);
            Complete(client, 0, 0);
            return true;
        }
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE:
        case USBDEVFS_RESET:
        case USBDEVFS_CLEAR_HALT:
            Complete(client, 0, 0);
            return true;
        case USBDEVFS_GETDRIVER:
        case USBDEVFS_IOCTL:
            // No kernel driver is bound to the chip: nothing to detach.
            Complete(client, -1, ENODATA);
            return true;
        case USBDEVFS_SUBMITURB:
            Submit(client);
            return true;
        case USBDEVFS_REAPURB:
        case USBDEVFS_REAPURBNDELAY:
            Reap(client);
            return true;
        case USBDEVFS_DISCARDURB:
            Discard(client);
            return true;
        default:
            std::fprintf(stderr, "emulated FT232R: unhandled ioctl 0x%lx\n", request);
            Complete(client, -1, ENOTTY);
            return true;
    }
}

void EmulatedFt232r::Submit(UMockdevIoctlClient* client) {
    Urb urb;
    urb.urb = Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb));
    if (!urb.urb) {
        Complete(client, -1, EFAULT);
        return;
    }
    const usbdevfs_urb* u = UrbOf(urb.urb.get());
    const int length = u->buffer_length;
    urb.buffer = Resolve(urb.urb.get(), offsetof(usbdevfs_urb, buffer),
                         static_cast<std::size_t>(std::max(length, 0)));
    if (!urb.buffer) {
        Complete(client, -1, EFAULT);
        return;
    }
    urb.submitted = std::chrono::steady_clock::now();
    std::lock_guard lock(mutex_);
    if (u->type == USBDEVFS_URB_TYPE_CONTROL) {
        AnswerControl(urb);
    } else if (u->type == USBDEVFS_URB_TYPE_BULK && u->endpoint == kEndpointOut) {
        const std::uint8_t* data = urb.buffer->data;
        written_.insert(written_.end(), data, data + length);
        urb.actualLength = length;
        if (peer_) {
            const std::vector<std::uint8_t> answer =
                peer_({data, static_cast<std::size_t>(length)});
            input_.insert(input_.end(), answer.begin(), answer.end());
        }
    } else if (u->type == USBDEVFS_URB_TYPE_BULK && u->endpoint == kEndpointIn) {
        urb.bulkIn = true;
    } else {
        Complete(client, -1, EINVAL);
        return;
    }
    urbs_.push_back(std::move(urb));
    Complete(client, 0, 0);
}

void EmulatedFt232r::AnswerControl(Urb& urb) {
    std::uint8_t* buffer = urb.buffer->data;
    const int length = urb.buffer->data_len;
    if (length < static_cast<int>(kSetupSize)) {
        urb.status = -EPIPE;
        return;
    }
    const ControlRequest setup{buffer[0], buffer[1],
                               static_cast<std::uint16_t>(buffer[2] | (buffer[3] << 8)),
                               static_cast<std::uint16_t>(buffer[4] | (buffer[5] << 8))};
    const std::size_t wanted = static_cast<std::size_t>(buffer[6] | (buffer[7] << 8));
    std::vector<std::uint8_t> reply;
    if (setup.requestType == 0x40) {
        vendorRequests_.push_back(setup);
        if (setup.request == 0x09) {  // set latency timer
            latencyMs_ = static_cast<std::uint8_t>(std::max<std::uint16_t>(setup.value, 1));
        }
    } else if (setup.requestType == 0x80 && setup.request == 0x06 && (setup.value >> 8) == 0x03) {
        if (stringsUnreadable_) {
            urb.status = -EPIPE;
            return;
        }
        reply = StringDescriptor(static_cast<std::uint8_t>(setup.value & 0xFF));
    } else if (setup.requestType == 0xC0 && setup.request == 0x0A) {
        reply = {latencyMs_};
    } else if (setup.requestType == 0xC0 && setup.request == 0x05) {
        reply = {kModemStatus[0], kModemStatus[1]};
    } else {
        urb.status = -EPIPE;  // the chip stalls requests it does not know
        return;
    }
    const std::size_t room = static_cast<std::size_t>(length) - kSetupSize;
    const std::size_t n = std::min({reply.size(), wanted, room});
    std::copy_n(reply.begin(), n, buffer + kSetupSize);
    urb.actualLength = static_cast<int>(n);
}

std::vector<std::uint8_t> EmulatedFt232r::StringDescriptor(std::uint8_t index) const {
    // Index 0 lists the languages (English, United States); the others are UTF-16LE text.
    if (index == 0) {
        return {4, 0x03, 0x09, 0x04};
    }
    const std::string text = index == 1 ? std::string("FTDI") : index == 2 ? description_ : serial_;
    std::vector<std::uint8_t> descriptor(2 + 2 * text.size(), 0);
    descriptor[0] = static_cast<std::uint8_t>(descriptor.size());
    descriptor[1] = 0x03;
    for (std::size_t i = 0; i < text.size(); ++i) {
        descriptor[2 + 2 * i] = static_cast<std::uint8_t>(text[i]);
    }
    return descriptor;
}

bool EmulatedFt232r::FillBulkIn(Urb& urb) {
    const auto now = std::chrono::steady_clock::now();
    if (input_.empty() && now - urb.submitted < std::chrono::milliseconds(latencyMs_)) {
        return false;
    }
    std::uint8_t* buffer = urb.buffer->data;
    const std::size_t room = static_cast<std::size_t>(urb.buffer->data_len);
    std::size_t used = 0;
    // A full packet lets the transfer go on; a short one (or status only) ends it.
    while (room - used >= kPacketSize) {
        buffer[used] = kModemStatus[0];
        buffer[used + 1] = kModemStatus[1];
        const std::size_t n = std::min(kPacketSize - 2, input_.size());
        std::copy_n(input_.begin(), n, buffer + used + 2);
        input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
        used += 2 + n;
        if (n < kPacketSize - 2 || input_.empty()) {
            break;
        }
    }
    urb.actualLength = static_cast<int>(used);
    return true;
}

void EmulatedFt232r::Reap(UMockdevIoctlClient* client) {
    GObjectPtr<UMockdevIoctlData> slot =
        Resolve(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*));
    if (!slot) {
        Complete(client, -1, EFAULT);
        return;
    }
    std::unique_lock lock(mutex_);
    for (auto it = urbs_.begin(); it != urbs_.end(); ++it) {
        if (it->unplugged) {
            it->status = -ESHUTDOWN;
            it->actualLength = 0;
        } else if (it->discarded) {
            it->status = -ENOENT;
            it->actualLength = 0;
        } else if (it->bulkIn && !FillBulkIn(*it)) {
            continue;
        }
        Urb done = std::move(*it);
        urbs_.erase(it);
        lock.unlock();
        usbdevfs_urb* u = UrbOf(done.urb.get());
        u->status = done.status;
        u->actual_length = done.actualLength;
        umockdev_ioctl_data_set_ptr(slot.get(), 0, done.urb.get());
        Complete(client, 0, 0);
        return;
    }
    lock.unlock();
    Complete(client, -1, EAGAIN);
}

void EmulatedFt232r::Discard(UMockdevIoctlClient* client) {
    // The argument is the URB's address in the client, as submitted.
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    unsigned long address = 0;
    std::memcpy(&address, arg->data, sizeof address);
    std::lock_guard lock(mutex_);
    for (Urb& urb : urbs_) {
        if (urb.urb->client_addr == address) {
            urb.discarded = true;
            Complete(client, 0, 0);
            return;
        }
    }
    Complete(client, -1, EINVAL);
}

EmulatedUsbBus::EmulatedUsbBus() : testbed_(umockdev_testbed_new()) {}

EmulatedUsbBus::~EmulatedUsbBus() {
    for (std::size_t i = 0; i < handlers_.size(); ++i) {
        g_signal_handlers_disconnect_by_data(handlers_[i].get(), devices_[i].get());
    }
}

bool EmulatedUsbBus::Add(const std::string& serial, const std::string& description) {
    const int devnum = static_cast<int>(devices_.size()) + 2;
    char node[64];
    std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03d", devnum);
    char path[128];
    std::snprintf(path, sizeof path, "/devices/pci0000:00/0000:00:14.0/usb1/1-%d", devnum - 1);
    char sysfs[768];
    // The ids and the serial number as sysfs attributes too: udev matches devices by them.
    std::snprintf(sysfs, sizeof sysfs,
                  "P: %s\n"
                  "N: bus/usb/001/%03d\n"
                  "E: DEVNAME=%s\n"
                  "E: DEVTYPE=usb_device\n"
                  "E: SUBSYSTEM=usb\n"
                  "E: BUSNUM=001\n"
                  "E: DEVNUM=%03d\n"
                  "A: busnum=1\n"
                  "A: devnum=%d\n"
                  "A: bConfigurationValue=1\n"
                  "A: speed=12\n"
                  "A: idVendor=0403\n"
                  "A: idProduct=6001\n"
                  "A: serial=%s\n"
                  "H: descriptors=%s\n",
                  path, devnum, node, devnum, devnum, serial.c_str(), kDescriptorsHex);
    GError* error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_.get(), sysfs, &error)) {
        std::fprintf(stderr, "emulated FT232R: add failed: %s\n",
                     error != nullptr ? error->message : "?");
        g_clear_error(&error);
        return false;
    }
    auto device = std::make_unique<EmulatedFt232r>(serial, description);
    GObjectPtr<UMockdevIoctlBase> handler(
        static_cast<UMockdevIoctlBase*>(g_object_new(UMOCKDEV_TYPE_IOCTL_BASE, nullptr)));
    g_signal_connect(handler.get(), "handle-ioctl", G_CALLBACK(OnHandleIoctl), device.get());
    if (!umockdev_testbed_attach_ioctl(testbed_.get(), node, handler.get(), &error)) {
        std::fprintf(stderr, "emulated FT232R: attach failed: %s\n",
                     error != nullptr ? error->message : "?");
        g_clear_error(&error);
        g_signal_handlers_disconnect_by_data(handler.get(), device.get());
        return false;
    }
    handlers_.push_back(std::move(handler));
    devices_.push_back(std::move(device));
    syspaths_.push_back(std::string("/sys") + path);
    return true;
}

EmulatedFt232r* EmulatedUsbBus::BySerial(const std::string& serial) {
    const auto it = std::find_if(devices_.begin(), devices_.end(),
                                 [&](const auto& d) { return d->Serial() == serial; });
    return it == devices_.end() ? nullptr : it->get();
}

void EmulatedUsbBus::Uevent(std::size_t index, const char* action) {
    umockdev_testbed_uevent(testbed_.get(), syspaths_.at(index).c_str(), action);
}

void ReexecUnderUmockdevWrapper(int argc, char** argv) {
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload != nullptr && std::strstr(preload, "libumockdev-preload") != nullptr) {
        return;
    }
    // ASan insists on being first in the library list; umockdev's preload comes before it.
    std::string asan = "verify_asan_link_order=0";
    if (const char* current = std::getenv("ASAN_OPTIONS"); current != nullptr && *current) {
        asan = std::string(current) + ":" + asan;
    }
    setenv("ASAN_OPTIONS", asan.c_str(), 1);
    std::vector<char*> args;
    args.push_back(const_cast<char*>("umockdev-wrapper"));
    for (int i = 0; i < argc; ++i) {
        args.push_back(argv[i]);
    }
    args.push_back(nullptr);
    execvp(args[0], args.data());
    std::perror("umockdev-wrapper");
    std::_Exit(127);
}

}  // namespace fwtest
