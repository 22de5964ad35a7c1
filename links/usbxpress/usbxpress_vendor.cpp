#include "links/usbxpress/usbxpress_vendor.h"

#include <dlfcn.h>

#include <cstdlib>
#include <optional>

namespace {

using Dword = std::uint32_t;

// The library's calls as it exports them (no calling convention of their own on Linux).
struct Calls {
    int (*getNumDevices)(Dword*);
    int (*getProductString)(Dword, void*, Dword);
    int (*open)(Dword, void**);
    int (*close)(void*);
    int (*read)(void*, void*, Dword, Dword*, void*);
    int (*write)(void*, void*, Dword, Dword*, void*);
    int (*flushBuffers)(void*, std::uint8_t, std::uint8_t);
    int (*setTimeouts)(Dword, Dword);
    int (*setBaudRate)(void*, Dword);
    int (*setLineControl)(void*, std::uint16_t);
    int (*setFlowControl)(void*, std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t,
                          std::uint8_t, int);
};

struct LibraryCloser {
    void operator()(void* handle) const { ::dlclose(handle); }
};
using LibraryHandle = std::unique_ptr<void, LibraryCloser>;

class VendorUsbXpress final : public UsbXpressLibrary {
  public:
    VendorUsbXpress(LibraryHandle library, Calls calls)
        : library_(std::move(library)), calls_(calls) {}

    SiStatus GetNumDevices(std::uint32_t& count) override { return calls_.getNumDevices(&count); }
    SiStatus GetProductString(std::uint32_t device, std::span<char> buffer,
                              std::uint32_t selector) override {
        if (buffer.size() < kSiMaxDeviceStrlen) {
            return kSiInvalidParameter;  // the library may write that much
        }
        return calls_.getProductString(device, buffer.data(), selector);
    }
    SiStatus Open(std::uint32_t device, SiHandle& handle) override {
        return calls_.open(device, &handle);
    }
    SiStatus Close(SiHandle handle) override { return calls_.close(handle); }
    SiStatus Read(SiHandle handle, std::span<std::uint8_t> buffer, std::uint32_t& got) override {
        got = 0;
        return calls_.read(handle, buffer.data(), static_cast<Dword>(buffer.size()), &got, nullptr);
    }
    SiStatus Write(SiHandle handle, std::span<const std::uint8_t> bytes,
                   std::uint32_t& written) override {
        written = 0;
        // The library takes a non-const buffer but only reads it.
        return calls_.write(handle, const_cast<std::uint8_t*>(bytes.data()),
                            static_cast<Dword>(bytes.size()), &written, nullptr);
    }
    SiStatus FlushBuffers(SiHandle handle, std::uint8_t transmit, std::uint8_t receive) override {
        return calls_.flushBuffers(handle, transmit, receive);
    }
    SiStatus SetTimeouts(std::uint32_t readMs, std::uint32_t writeMs) override {
        return calls_.setTimeouts(readMs, writeMs);
    }
    SiStatus SetBaudRate(SiHandle handle, std::uint32_t baud) override {
        return calls_.setBaudRate(handle, baud);
    }
    SiStatus SetLineControl(SiHandle handle, std::uint16_t lineControl) override {
        return calls_.setLineControl(handle, lineControl);
    }
    SiStatus SetFlowControl(SiHandle handle, std::uint8_t cts, std::uint8_t rts, std::uint8_t dtr,
                            std::uint8_t dsr, std::uint8_t dcd, bool xonXoff) override {
        return calls_.setFlowControl(handle, cts, rts, dtr, dsr, dcd, xonXoff ? 1 : 0);
    }

  private:
    LibraryHandle library_;
    Calls calls_;
};

// Stands in when no library could be loaded: no device is found, nothing opens.
class NoUsbXpress final : public UsbXpressLibrary {
  public:
    SiStatus GetNumDevices(std::uint32_t& count) override {
        count = 0;
        return kSiDeviceNotFound;
    }
    SiStatus GetProductString(std::uint32_t, std::span<char>, std::uint32_t) override {
        return kSiDeviceNotFound;
    }
    SiStatus Open(std::uint32_t, SiHandle&) override { return kSiDeviceNotFound; }
    SiStatus Close(SiHandle) override { return kSiInvalidHandle; }
    SiStatus Read(SiHandle, std::span<std::uint8_t>, std::uint32_t& got) override {
        got = 0;
        return kSiInvalidHandle;
    }
    SiStatus Write(SiHandle, std::span<const std::uint8_t>, std::uint32_t& w) override {
        w = 0;
        return kSiInvalidHandle;
    }
    SiStatus FlushBuffers(SiHandle, std::uint8_t, std::uint8_t) override {
        return kSiInvalidHandle;
    }
    SiStatus SetTimeouts(std::uint32_t, std::uint32_t) override { return kSiDeviceNotFound; }
    SiStatus SetBaudRate(SiHandle, std::uint32_t) override { return kSiInvalidHandle; }
    SiStatus SetLineControl(SiHandle, std::uint16_t) override { return kSiInvalidHandle; }
    SiStatus SetFlowControl(SiHandle, std::uint8_t, std::uint8_t, std::uint8_t, std::uint8_t,
                            std::uint8_t, bool) override {
        return kSiInvalidHandle;
    }
};

template <typename F>
bool Bind(void* library, const char* name, F& call, std::string& error) {
    call = reinterpret_cast<F>(::dlsym(library, name));
    if (call == nullptr) {
        error = std::string("the library has no ") + name;
    }
    return call != nullptr;
}

std::string LibraryPath(const std::string& configuredPath) {
    if (const char* path = std::getenv(kUsbXpressLibraryVariable); path != nullptr && *path) {
        return path;
    }
    return !configuredPath.empty() ? configuredPath : std::string(kUsbXpressLibraryName);
}

}  // namespace

std::unique_ptr<UsbXpressLibrary> LoadUsbXpressLibrary(const std::string& path,
                                                       std::string& error) {
    LibraryHandle library(::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    if (!library) {
        const char* why = ::dlerror();
        error = why != nullptr ? why : "cannot be loaded";
        return nullptr;
    }
    Calls c{};
    void* l = library.get();
    const bool bound = Bind(l, "SI_GetNumDevices", c.getNumDevices, error) &&
                       Bind(l, "SI_GetProductString", c.getProductString, error) &&
                       Bind(l, "SI_Open", c.open, error) && Bind(l, "SI_Close", c.close, error) &&
                       Bind(l, "SI_Read", c.read, error) && Bind(l, "SI_Write", c.write, error) &&
                       Bind(l, "SI_FlushBuffers", c.flushBuffers, error) &&
                       Bind(l, "SI_SetTimeouts", c.setTimeouts, error) &&
                       Bind(l, "SI_SetBaudRate", c.setBaudRate, error) &&
                       Bind(l, "SI_SetLineControl", c.setLineControl, error) &&
                       Bind(l, "SI_SetFlowControl", c.setFlowControl, error);
    if (!bound) {
        return nullptr;
    }
    return std::make_unique<VendorUsbXpress>(std::move(library), c);
}

UsbXpressChoice MakeUsbXpressLibrary(const std::string& configuredPath) {
    if (const char* bus = std::getenv(kUsbXpressBusVariable); bus != nullptr && *bus) {
        return {MakeSimulatedUsbXpressLibrary(bus), {}};
    }
    const std::string path = LibraryPath(configuredPath);
    std::string error;
    if (auto library = LoadUsbXpressLibrary(path, error)) {
        return {std::move(library), {}};
    }
    return {std::make_unique<NoUsbXpress>(),
            "the USBXpress library " + path + " is not available (" + error + ")"};
}
