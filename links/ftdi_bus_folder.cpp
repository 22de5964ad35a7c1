#include "links/ftdi_bus_folder.h"

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <system_error>

namespace {

namespace fs = std::filesystem;

bool SingleLine(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos;
}

bool UsableSerial(std::string_view serial) {
    return !serial.empty() && serial != "." && serial != ".." && !serial.starts_with('.') &&
           serial.find('/') == std::string_view::npos && SingleLine(serial);
}

// Three lines, the last line break optional; the serial must match the file's name so two
// files cannot claim one device.
bool ParseDeviceFile(const fs::path& file, FtdiBusDevice& device) {
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    std::string text = content.str();
    if (text.ends_with('\n')) {
        text.pop_back();
    }
    std::vector<std::string> lines;
    std::istringstream split(text);
    for (std::string line; std::getline(split, line);) {
        lines.push_back(line);
    }
    if (lines.size() != 3 || lines[2].empty() || !lines[2].starts_with('/')) {
        return false;
    }
    device = {lines[0], lines[1], lines[2]};
    return file.stem().string() == device.serial;
}

}  // namespace

std::vector<FtdiBusDevice> ListFtdiBus(const std::string& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > kFtdiBusSuffix.size() && name.ends_with(kFtdiBusSuffix) &&
            !name.starts_with('.') && it->is_regular_file(ec)) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    std::vector<FtdiBusDevice> devices;
    for (const fs::path& file : files) {
        FtdiBusDevice device;
        if (ParseDeviceFile(file, device)) {
            devices.push_back(std::move(device));
        }
    }
    return devices;
}

std::string FtdiBusFile(const std::string& folder, std::string_view serial) {
    return (fs::path(folder) / (std::string(serial) + std::string(kFtdiBusSuffix))).string();
}

bool PlugFtdiBusDevice(const std::string& folder, const FtdiBusDevice& device, std::string& error) {
    if (!UsableSerial(device.serial) || !SingleLine(device.description) ||
        !SingleLine(device.ttyPath) || !device.ttyPath.starts_with('/')) {
        error = "cannot describe device \"" + device.serial + "\" on the bus";
        return false;
    }
    const std::string target = FtdiBusFile(folder, device.serial);
    // A hidden temporary name, unique to this process, which listing skips.
    const std::string temporary =
        (fs::path(folder) / ("." + device.serial + ".tmp." + std::to_string(::getpid()))).string();
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        out << device.description << '\n' << device.serial << '\n' << device.ttyPath << '\n';
        if (!out.flush()) {
            error = "cannot write " + temporary;
            return false;
        }
    }
    std::error_code ec;
    fs::rename(temporary, target, ec);
    if (ec) {
        fs::remove(temporary, ec);
        error = "cannot plug in " + target;
        return false;
    }
    return true;
}

void UnplugFtdiBusDevice(const std::string& folder, std::string_view serial) {
    std::error_code ec;
    fs::remove(FtdiBusFile(folder, serial), ec);
}
