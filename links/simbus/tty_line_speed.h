#pragma once

#include <cstdint>
#include <optional>

// A terminal's line speed in bits per second, any rate: the standard ones through their own
// codes, the others as an arbitrary rate (termios2). Kept apart from <termios.h>, whose
// structure clashes with the kernel's.

// Sets input and output speed of the terminal on `fd`; false when the driver refuses.
bool SetTtyLineSpeed(int fd, std::uint32_t baud);
// The output speed currently set on the terminal; nothing when it cannot be read.
std::optional<std::uint32_t> TtyLineSpeed(int fd);
