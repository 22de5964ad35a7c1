#include "links/simbus/bus_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "log/unique_fd.h"

namespace {

namespace fs = std::filesystem;

bool SingleLine(std::string_view text) {
    return text.find_first_of("\r\n") == std::string_view::npos;
}

bool UsableSerial(std::string_view serial) {
    return !serial.empty() && serial != "." && serial != ".." && !serial.starts_with('.') &&
           serial.find('/') == std::string_view::npos && SingleLine(serial);
}

bool WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// Why the bus file is no device file; empty when `device` holds what it describes: three
// lines (the last line break optional), and the serial must match the file's name so two files
// cannot claim one device.
std::string ReadDeviceFile(const fs::path& file, BusDevice& device) {
    // O_NONBLOCK keeps the open of a named pipe from waiting for a writer; the type is checked
    // on the open file, so nothing can be swapped in between the check and the reading.
    const UniqueFd fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (!fd.Valid()) {
        return std::string("cannot be opened: ") + std::strerror(errno);
    }
    struct stat st {};
    if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return "is not a regular file";
    }
    std::string text(kBusFileMaxBytes + 1, '\0');
    std::size_t got = 0;
    while (got < text.size()) {
        const ssize_t n = ::read(fd.Get(), text.data() + got, text.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return std::string("cannot be read: ") + std::strerror(errno);
        }
        if (n == 0) {
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    if (got > kBusFileMaxBytes) {
        return "is larger than " + std::to_string(kBusFileMaxBytes) + " bytes";
    }
    text.resize(got);
    if (text.ends_with('\n')) {
        text.pop_back();
    }
    std::vector<std::string> lines;
    std::istringstream split(text);
    for (std::string line; std::getline(split, line);) {
        lines.push_back(line);
    }
    if (lines.size() != 3 || lines[2].empty() || !lines[2].starts_with('/')) {
        return "does not hold three lines: description, serial number, port";
    }
    device = {lines[0], lines[1], lines[2]};
    if (file.stem().string() != device.serial) {
        return "names another serial number than its file name";
    }
    return {};
}

}  // namespace

std::vector<BusDevice> ListBus(const std::string& folder, std::vector<std::string>* skipped) {
    std::vector<fs::path> files;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.size() > kBusFileSuffix.size() && name.ends_with(kBusFileSuffix) &&
            !name.starts_with('.')) {
            files.push_back(it->path());
        }
    }
    std::sort(files.begin(), files.end(),
              [](const fs::path& a, const fs::path& b) { return a.filename() < b.filename(); });
    std::vector<BusDevice> devices;
    for (const fs::path& file : files) {
        BusDevice device;
        const std::string why = ReadDeviceFile(file, device);
        if (why.empty()) {
            devices.push_back(std::move(device));
        } else if (skipped != nullptr) {
            skipped->push_back(file.filename().string() + " " + why);
        }
    }
    return devices;
}

std::string BusFile(const std::string& folder, std::string_view serial) {
    return (fs::path(folder) / (std::string(serial) + std::string(kBusFileSuffix))).string();
}

bool PlugBusDevice(const std::string& folder, const BusDevice& device, std::string& error) {
    const std::string text =
        device.description + '\n' + device.serial + '\n' + device.ttyPath + '\n';
    if (!UsableSerial(device.serial) || !SingleLine(device.description) ||
        !SingleLine(device.ttyPath) || !device.ttyPath.starts_with('/') ||
        text.size() > kBusFileMaxBytes) {
        error = "cannot describe device \"" + device.serial + "\" on the bus";
        return false;
    }
    const std::string target = BusFile(folder, device.serial);
    // A hidden temporary name, unique to this process, which listing skips. It is made anew
    // (a leftover of an earlier process with this number is removed first), so nothing already
    // in its place, a named pipe or a link elsewhere, is written through.
    const std::string temporary =
        (fs::path(folder) / ("." + device.serial + ".tmp." + std::to_string(::getpid()))).string();
    ::unlink(temporary.c_str());
    constexpr mode_t kReadableByAll = 0644;
    UniqueFd out(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        kReadableByAll));
    if (!out.Valid() || !WriteAll(out.Get(), text)) {
        ::unlink(temporary.c_str());
        error = "cannot write " + temporary;
        return false;
    }
    out.Reset();
    std::error_code ec;
    fs::rename(temporary, target, ec);
    if (ec) {
        fs::remove(temporary, ec);
        error = "cannot plug in " + target;
        return false;
    }
    return true;
}

void UnplugBusDevice(const std::string& folder, std::string_view serial) {
    std::error_code ec;
    fs::remove(BusFile(folder, serial), ec);
}
