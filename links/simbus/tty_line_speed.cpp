#include "links/simbus/tty_line_speed.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <array>
#include <utility>

namespace {

// The rates with a code of their own; every other rate goes as BOTHER with its number.
constexpr std::array<std::pair<std::uint32_t, unsigned>, 18> kStandardRates{{
    {300, B300},
    {600, B600},
    {1200, B1200},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
    {460800, B460800},
    {500000, B500000},
    {921600, B921600},
    {1000000, B1000000},
    {1500000, B1500000},
    {2000000, B2000000},
    {3000000, B3000000},
}};

unsigned SpeedCode(std::uint32_t baud) {
    for (const auto& [rate, code] : kStandardRates) {
        if (rate == baud) {
            return code;
        }
    }
    return BOTHER;
}

}  // namespace

bool SetTtyLineSpeed(int fd, std::uint32_t baud) {
    if (baud == 0) {
        return false;  // B0 would hang the line up
    }
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return false;
    }
    const unsigned code = SpeedCode(baud);
    tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= code | (code << IBSHIFT);
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    return ::ioctl(fd, TCSETS2, &tio) == 0;
}

std::optional<std::uint32_t> TtyLineSpeed(int fd) {
    termios2 tio{};
    if (::ioctl(fd, TCGETS2, &tio) != 0) {
        return std::nullopt;
    }
    // The driver keeps the rate as a number for standard codes too.
    return tio.c_ospeed;
}
