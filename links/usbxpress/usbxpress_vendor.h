#pragma once

#include <memory>
#include <string>

#include "links/usbxpress/usbxpress_library.h"

// The vendor's USBXpress library, loaded at run time: it is not part of the system and not in
// the distribution, so the program runs without it and says what it looked for.

// The library's usual name, looked up on the library path.
inline constexpr const char* kUsbXpressLibraryName = "libSiUSBXp.so";
inline constexpr const char* kUsbXpressLibraryVariable = "FLASHWRIGHT_USBXPRESS_LIBRARY";

// Loads the library at `path` (a name or a path, as dlopen takes it) and binds every call the
// link makes; nothing, with `error` saying why, when the file or a symbol is missing.
std::unique_ptr<UsbXpressLibrary> LoadUsbXpressLibrary(const std::string& path, std::string& error);

struct UsbXpressChoice {
    std::unique_ptr<UsbXpressLibrary> library;  // never null
    // Why no device can be reached (the library that was looked for), empty when one was
    // loaded or the simulated bus is in use.
    std::string unavailable;
};

// The simulated devices when FLASHWRIGHT_USBXPRESS_BUS names a folder; else the vendor's
// library from FLASHWRIGHT_USBXPRESS_LIBRARY, `configuredPath` (the user's setting, read by the
// caller; empty: none), or the library path. Without one, a stand-in whose device count fails
// with "device not found".
UsbXpressChoice MakeUsbXpressLibrary(const std::string& configuredPath = {});
