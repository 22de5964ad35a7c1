#include "sim/pty_pair.h"

#include <fcntl.h>
#include <termios.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

std::string SystemError(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

}  // namespace

bool PtyPair::Open(std::string& error) {
    Close();
    master_.Reset(::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC | O_NONBLOCK));
    if (!master_.Valid() || ::grantpt(master_.Get()) != 0 || ::unlockpt(master_.Get()) != 0) {
        error = SystemError("cannot create a pseudo-terminal");
        return false;
    }
    std::array<char, 256> name{};
    if (::ptsname_r(master_.Get(), name.data(), name.size()) != 0) {
        error = SystemError("cannot name the pseudo-terminal");
        return false;
    }
    path_ = name.data();
    slave_.Reset(::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC));
    if (!slave_.Valid()) {
        error = SystemError("cannot open " + path_);
        return false;
    }
    // Raw from the start: no echo and no line editing before the host sets the line up.
    termios raw{};
    ::tcgetattr(slave_.Get(), &raw);
    ::cfmakeraw(&raw);
    ::tcsetattr(slave_.Get(), TCSANOW, &raw);
    return true;
}

void PtyPair::Close() {
    slave_.Reset();
    master_.Reset();
}
