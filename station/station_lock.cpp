#include "station/station_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "update/sha256_hex.h"

namespace {

// The hexadecimal digits of a key's SHA-256 that name its lock file.
constexpr std::size_t kLockKeyDigits = 16;

}  // namespace

std::string StationLockFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime != nullptr && runtime[0] == '/') {
        return std::string(runtime) + "/flashwright";
    }
    return "/tmp/flashwright-" + std::to_string(::getuid());
}

std::string HashedLockKey(const std::string& text) {
    return Sha256Hex(text).substr(0, kLockKeyDigits);
}

bool StationLock::Take(const std::string& key, const std::string& what, std::string& error) {
    const std::string folder = StationLockFolder();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
        error = "the lock folder " + folder + " cannot be made: " + std::strerror(errno);
        return false;
    }
    // Only characters that cannot leave the folder make the file name.
    std::string name = key;
    for (char& c : name) {
        if (c == '/' || c == '\0') {
            c = '_';
        }
    }
    const std::string path = folder + "/station-" + name + ".lock";
    fd_.Reset(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (!fd_.Valid()) {
        error = "the lock file " + path + " cannot be opened: " + std::strerror(errno);
        return false;
    }
    if (::flock(fd_.Get(), LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK
                    ? "another station already serves " + what + " (lock " + path + ")"
                    : "the lock file " + path + " cannot be locked: " + std::strerror(errno);
        fd_.Reset();
        return false;
    }
    return true;
}
