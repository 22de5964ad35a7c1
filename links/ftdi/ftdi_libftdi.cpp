// The FTDI driver library over libftdi1 (and libusb): the calls the link makes, with the
// semantics it relies on. A read waits for the requested count or the read time-out, which
// libftdi1's own read does not do.

#include <ftdi.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "links/ftdi/ftdi_library.h"
#include "links/handle_table.h"

namespace {

// A read that found nothing pauses this long (at most) before it asks the chip again.
constexpr std::chrono::milliseconds kEmptyReadPause{1};

struct ContextDeleter {
    void operator()(ftdi_context* ctx) const { ftdi_free(ctx); }
};
using Context = std::unique_ptr<ftdi_context, ContextDeleter>;

struct ListDeleter {
    void operator()(ftdi_device_list* list) const { ftdi_list_free(&list); }
};
using DeviceList = std::unique_ptr<ftdi_device_list, ListDeleter>;

// The attached FTDI devices, in the library's order, as libusb devices of the given context:
// a device is only usable through the context that found it (libusb_exit of another context
// would free it under an open handle). Vendor and product 0 find every FTDI product id the
// library knows.
bool FindDevices(ftdi_context* ctx, DeviceList& list, std::vector<libusb_device*>& devices) {
    if (ctx == nullptr) {
        return false;
    }
    ftdi_device_list* found = nullptr;
    if (ftdi_usb_find_all(ctx, &found, 0, 0) < 0) {
        return false;
    }
    list.reset(found);
    for (ftdi_device_list* d = found; d != nullptr; d = d->next) {
        devices.push_back(d->dev);
    }
    return true;
}

// A listing through a context of its own, for the calls that only read the devices' strings.
struct Listing {
    Context ctx{ftdi_new()};
    DeviceList list;  // released before the context that owns its devices
    std::vector<libusb_device*> devices;

    bool Find() { return FindDevices(ctx.get(), list, devices); }
};

// An open device: its own context, closed and freed with it.
struct OpenDevice {
    Context ctx;
    unsigned readTimeoutMs = 0;
    ~OpenDevice() {
        if (ctx) {
            ftdi_usb_close(ctx.get());
        }
    }
};

class LibFtdiLibrary final : public FtdiLibrary {
  public:
    FtdiStatus CountDevices(std::uint32_t& count) override {
        Listing listing;
        if (!listing.Find()) {
            return kFtdiOtherError;
        }
        count = static_cast<std::uint32_t>(listing.devices.size());
        return kFtdiOk;
    }

    FtdiStatus SerialNumberByIndex(std::uint32_t index, std::span<char> buffer) override {
        Listing listing;
        if (!listing.Find()) {
            return kFtdiOtherError;
        }
        if (index >= listing.devices.size() || buffer.empty()) {
            return kFtdiDeviceNotFound;
        }
        if (ftdi_usb_get_strings2(listing.ctx.get(), listing.devices[index], nullptr, 0, nullptr, 0,
                                  buffer.data(), static_cast<int>(buffer.size())) < 0) {
            return kFtdiIoError;
        }
        return kFtdiOk;
    }

    FtdiStatus AllDescriptions(std::vector<std::string>& descriptions) override {
        descriptions.clear();
        Listing listing;
        if (!listing.Find()) {
            return kFtdiOtherError;
        }
        for (libusb_device* device : listing.devices) {
            // A device whose strings cannot be read (no access to it, a stalled request)
            // keeps its place with an empty description, so the others keep their names.
            std::array<char, 128> text{};
            if (ftdi_usb_get_strings2(listing.ctx.get(), device, nullptr, 0, text.data(),
                                      static_cast<int>(text.size()), nullptr, 0) < 0) {
                text[0] = '\0';
            }
            descriptions.emplace_back(text.data());
        }
        return kFtdiOk;
    }

    FtdiStatus OpenByIndex(int index, FtdiHandle& handle) override {
        auto device = std::make_unique<OpenDevice>();
        device->ctx.reset(ftdi_new());
        // The device is found again through the context that will keep it open. The list goes
        // first on every return, while that context still exists; the open handle holds its own
        // reference to the device.
        DeviceList list;
        std::vector<libusb_device*> devices;
        if (!FindDevices(device->ctx.get(), list, devices)) {
            return kFtdiOtherError;
        }
        if (index < 0 || static_cast<std::size_t>(index) >= devices.size()) {
            return kFtdiDeviceNotFound;
        }
        // Opening detaches the kernel's serial driver from the chip while it is open. Closing a
        // context that never opened (or failed to) is harmless to libftdi1.
        if (ftdi_usb_open_dev(device->ctx.get(), devices[static_cast<std::size_t>(index)]) < 0) {
            return kFtdiDeviceNotOpened;
        }
        device->readTimeoutMs = static_cast<unsigned>(device->ctx->usb_read_timeout);
        handle = open_.Add(std::move(device));
        return kFtdiOk;
    }

    FtdiStatus Close(FtdiHandle handle) override {
        return open_.Close(handle) ? kFtdiOk : kFtdiInvalidHandle;
    }

    FtdiStatus Read(FtdiHandle handle, std::span<std::uint8_t> buffer,
                    std::uint32_t& got) override {
        got = 0;
        OpenDevice* d = Find(handle);
        if (d == nullptr) {
            return kFtdiInvalidHandle;
        }
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(d->readTimeoutMs);
        while (got < buffer.size()) {
            // Each call takes what the chip has sent; with nothing new it returns after the
            // chip's next status packet (the latency time), so the loop does not spin.
            const int n = ftdi_read_data(d->ctx.get(), buffer.data() + got,
                                         static_cast<int>(buffer.size() - got));
            if (n < 0) {
                return kFtdiIoError;
            }
            got += static_cast<std::uint32_t>(n);
            const auto now = Clock::now();
            if (got >= buffer.size() || now >= deadline) {
                break;
            }
            if (n == 0) {
                std::this_thread::sleep_for(
                    std::min<Clock::duration>(kEmptyReadPause, deadline - now));
            }
        }
        return kFtdiOk;
    }

    FtdiStatus ReadWaiting(FtdiHandle handle, std::span<std::uint8_t> buffer,
                           std::uint32_t& got) override {
        got = 0;
        OpenDevice* d = Find(handle);
        if (d == nullptr) {
            return kFtdiInvalidHandle;
        }
        // Only what the library has already taken from the chip: asking the chip would wait
        // for its next packet.
        const unsigned buffered = d->ctx->readbuffer_remaining;
        if (buffered == 0 || buffer.empty()) {
            return kFtdiOk;
        }
        const int n =
            ftdi_read_data(d->ctx.get(), buffer.data(),
                           static_cast<int>(std::min<std::size_t>(buffered, buffer.size())));
        if (n < 0) {
            return kFtdiIoError;
        }
        got = static_cast<std::uint32_t>(n);
        return kFtdiOk;
    }

    FtdiStatus Write(FtdiHandle handle, std::span<const std::uint8_t> bytes,
                     std::uint32_t& written) override {
        written = 0;
        OpenDevice* d = Find(handle);
        if (d == nullptr) {
            return kFtdiInvalidHandle;
        }
        const int n = ftdi_write_data(d->ctx.get(), bytes.data(), static_cast<int>(bytes.size()));
        if (n < 0) {
            return kFtdiIoError;
        }
        written = static_cast<std::uint32_t>(n);
        return kFtdiOk;
    }

    FtdiStatus SetBaudRate(FtdiHandle handle, std::uint32_t baud) override {
        return Call(handle,
                    [&](ftdi_context* c) { return ftdi_set_baudrate(c, static_cast<int>(baud)); });
    }

    FtdiStatus SetDataCharacteristics(FtdiHandle handle, std::uint8_t wordLength,
                                      std::uint8_t stopBits, std::uint8_t parity) override {
        if ((wordLength != 7 && wordLength != 8) || stopBits > 2 || parity > 4) {
            return kFtdiInvalidParameter;
        }
        // The library's encodings match the driver interface's: 0 one stop bit, 2 two;
        // parity 0 none, 1 odd, 2 even, 3 mark, 4 space.
        return Call(handle, [&](ftdi_context* c) {
            return ftdi_set_line_property(c, wordLength == 7 ? BITS_7 : BITS_8,
                                          static_cast<ftdi_stopbits_type>(stopBits),
                                          static_cast<ftdi_parity_type>(parity));
        });
    }

    FtdiStatus SetFlowControl(FtdiHandle handle, std::uint16_t mode, std::uint8_t xon,
                              std::uint8_t xoff) override {
        // The modes' values are the chip's own, the same in both interfaces.
        return Call(handle, [&](ftdi_context* c) {
            if (mode == SIO_XON_XOFF_HS) {
                return ftdi_setflowctrl_xonxoff(c, xon, xoff);
            }
            return ftdi_setflowctrl(c, mode);
        });
    }

    FtdiStatus SetUsbParameters(FtdiHandle handle, std::uint32_t inSize,
                                std::uint32_t outSize) override {
        return Call(handle, [&](ftdi_context* c) {
            const int in = ftdi_read_data_set_chunksize(c, inSize);
            return in < 0 ? in : ftdi_write_data_set_chunksize(c, outSize);
        });
    }

    FtdiStatus SetTimeouts(FtdiHandle handle, std::uint32_t readMs,
                           std::uint32_t writeMs) override {
        OpenDevice* d = Find(handle);
        if (d == nullptr) {
            return kFtdiInvalidHandle;
        }
        // libftdi1 has no setter: the context's fields are the time-outs of its transfers.
        d->ctx->usb_read_timeout = static_cast<int>(readMs);
        d->ctx->usb_write_timeout = static_cast<int>(writeMs);
        d->readTimeoutMs = readMs;
        return kFtdiOk;
    }

    FtdiStatus SetLatencyTimer(FtdiHandle handle, std::uint8_t ms) override {
        return Call(handle, [&](ftdi_context* c) { return ftdi_set_latency_timer(c, ms); });
    }

    FtdiStatus SetChars(FtdiHandle handle, std::uint8_t eventChar, std::uint8_t eventEnabled,
                        std::uint8_t errorChar, std::uint8_t errorEnabled) override {
        return Call(handle, [&](ftdi_context* c) {
            const int event = ftdi_set_event_char(c, eventChar, eventEnabled);
            return event < 0 ? event : ftdi_set_error_char(c, errorChar, errorEnabled);
        });
    }

    FtdiStatus Purge(FtdiHandle handle, std::uint32_t mask) override {
        return Call(handle, [&](ftdi_context* c) {
            // The non-deprecated flushes: the older purge calls name the directions the
            // other way round.
            int r = 0;
            if ((mask & kFtdiPurgeRx) != 0) {
                r = ftdi_tciflush(c);
            }
            if (r >= 0 && (mask & kFtdiPurgeTx) != 0) {
                r = ftdi_tcoflush(c);
            }
            return r;
        });
    }

  private:
    OpenDevice* Find(FtdiHandle handle) { return open_.Find(handle); }

    template <typename F>
    FtdiStatus Call(FtdiHandle handle, F call) {
        OpenDevice* d = Find(handle);
        if (d == nullptr) {
            return kFtdiInvalidHandle;
        }
        return call(d->ctx.get()) < 0 ? kFtdiIoError : kFtdiOk;
    }

    HandleTable<OpenDevice> open_;
};

}  // namespace

std::unique_ptr<FtdiLibrary> MakeLibFtdiLibrary() {
    return std::make_unique<LibFtdiLibrary>();
}
