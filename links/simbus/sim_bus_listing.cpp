#include "links/simbus/sim_bus_listing.h"

#include <sys/inotify.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>

namespace {

// Every change that can add, remove or alter a device file, and the folder itself going.
constexpr std::uint32_t kFolderChanges = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO |
                                         IN_MODIFY | IN_CLOSE_WRITE | IN_ATTRIB | IN_DELETE_SELF |
                                         IN_MOVE_SELF | IN_ONLYDIR;
// The watch is gone (the folder was removed or moved) or events were lost.
constexpr std::uint32_t kWatchLost = IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF | IN_Q_OVERFLOW;

}  // namespace

const std::vector<BusDevice>& SimBusListing::Devices() {
    if (Changed()) {
        devices_ = ListBus(folder_);
    }
    return devices_;
}

bool SimBusListing::Changed() {
    if (!watch_.Valid()) {
        // The watch is set before the folder is read, so a change during the reading is seen
        // by the next call.
        watch_.Reset(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC));
        if (watch_.Valid() &&
            ::inotify_add_watch(watch_.Get(), folder_.c_str(), kFolderChanges) < 0) {
            watch_.Reset();
        }
        return true;
    }
    bool changed = false;
    alignas(inotify_event) std::array<char, 4096> buffer{};
    for (;;) {
        const ssize_t n = ::read(watch_.Get(), buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0 && errno != EAGAIN) {
            watch_.Reset();
            return true;
        }
        if (n <= 0) {
            break;  // nothing more has happened
        }
        changed = true;
        for (ssize_t at = 0; at < n;) {
            inotify_event event{};
            std::memcpy(&event, buffer.data() + at, sizeof event);
            if ((event.mask & kWatchLost) != 0) {
                watch_.Reset();  // set again, on whatever folder has the name then
                return true;
            }
            at += static_cast<ssize_t>(sizeof event + event.len);
        }
    }
    return changed;
}
