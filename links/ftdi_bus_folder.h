#pragma once

#include <string>
#include <string_view>
#include <vector>

// The folder that stands for a USB bus of simulated FTDI devices. Each attached device is one
// file "<serial>.dev" of three lines: description, serial number, path of the
// pseudo-terminal that carries its bytes. The devices' order is the files' name order;
// removing a file unplugs the device, writing it again plugs it back in.

struct FtdiBusDevice {
    std::string description;
    std::string serial;
    std::string ttyPath;
};

inline constexpr std::string_view kFtdiBusSuffix = ".dev";

// The attached devices in name order; files that are not well-formed "*.dev" are skipped.
std::vector<FtdiBusDevice> ListFtdiBus(const std::string& folder);

// The file that stands for the device with this serial number.
std::string FtdiBusFile(const std::string& folder, std::string_view serial);

// Plugs the device in: writes its file under a temporary name, then renames it, so a reader
// never sees half a file. False with `error` set when the fields cannot make a file (an empty
// or path-like serial, a line break in a field) or writing fails.
bool PlugFtdiBusDevice(const std::string& folder, const FtdiBusDevice& device, std::string& error);

// Unplugs the device with this serial number (removes its file).
void UnplugFtdiBusDevice(const std::string& folder, std::string_view serial);
