#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The folder that stands for a USB bus of simulated devices, FTDI or USBXpress alike. Each
// attached device is one file "<serial>.dev" of three lines: description, serial number, path
// of the pseudo-terminal that carries its bytes. The devices' order is the files' name order;
// removing a file unplugs the device, writing it again plugs it back in.

struct BusDevice {
    std::string description;
    std::string serial;
    std::string ttyPath;
};

inline constexpr std::string_view kBusFileSuffix = ".dev";
// A bus file holds three short lines: anything larger is no device file and is not read.
inline constexpr std::size_t kBusFileMaxBytes = 4096;

// The attached devices in name order. A "*.dev" file that is no well-formed device file (not
// a regular file once opened, larger than the bound, not three lines) is skipped; `skipped`,
// when given, gets one line per such file naming it and why. Reading never blocks: a named
// pipe put in place of a file is refused, not waited on.
std::vector<BusDevice> ListBus(const std::string& folder,
                               std::vector<std::string>* skipped = nullptr);

// The file that stands for the device with this serial number.
std::string BusFile(const std::string& folder, std::string_view serial);

// Plugs the device in: writes its file under a temporary name, then renames it, so a reader
// never sees half a file. False with `error` set when the fields cannot make a file (an empty
// or path-like serial, a line break in a field) or writing fails.
bool PlugBusDevice(const std::string& folder, const BusDevice& device, std::string& error);

// Unplugs the device with this serial number (removes its file).
void UnplugBusDevice(const std::string& folder, std::string_view serial);
