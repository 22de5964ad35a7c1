#include "station/bus_watch.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

#include "links/simbus/bus_folder.h"

namespace {

constexpr std::uint32_t kFolderChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                         IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF |
                                         IN_MOVE_SELF | IN_ONLYDIR;
// The watch is gone (the folder was removed or moved) or events were lost.
constexpr std::uint32_t kWatchLost = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_Q_OVERFLOW;

}  // namespace

bool BusWatch::Arm(std::string& problem) {
    if (fd_.Valid()) {
        return true;
    }
    fd_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
    if (fd_.Valid() && ::inotify_add_watch(fd_.Get(), folder_.c_str(), kFolderChanges) < 0) {
        problem = "the bus folder " + folder_ + " cannot be watched: " + std::strerror(errno);
        fd_.Reset();
    }
    return fd_.Valid();
}

void BusWatch::Drain(std::set<std::string>& removed) {
    alignas(inotify_event) std::array<char, 4096> buffer{};
    while (fd_.Valid()) {
        const ssize_t n = ::read(fd_.Get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            if (n < 0 && errno != EAGAIN) {
                fd_.Reset();
            }
            return;
        }
        for (ssize_t at = 0; at < n;) {
            inotify_event event{};
            std::memcpy(&event, buffer.data() + at, sizeof event);
            if ((event.mask & kWatchLost) != 0) {
                fd_.Reset();
                return;
            }
            if ((event.mask & (IN_DELETE | IN_MOVED_FROM)) != 0 && event.len > 0) {
                // The name is NUL-padded after the event.
                const std::string name(buffer.data() + at + sizeof event);
                if (name.ends_with(kBusFileSuffix)) {
                    removed.insert(name.substr(0, name.size() - kBusFileSuffix.size()));
                }
            }
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
}

std::vector<StationDevice> BusWatch::Devices(std::vector<std::string>& problems) const {
    std::vector<StationDevice> devices;
    for (BusDevice& d : ListBus(folder_, &problems)) {
        devices.push_back({std::move(d.serial), std::move(d.description)});
    }
    return devices;
}
