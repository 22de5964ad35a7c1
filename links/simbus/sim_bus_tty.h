#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "log/unique_fd.h"

// The host's side of a simulated bus device's pseudo-terminal, shared by the simulated FTDI
// and USBXpress libraries: raw bytes, reads bounded by a time-out, and a device that went
// away (hang-up, I/O error) reported as failure instead of a wait. Each call answers false
// when the device is gone or the terminal fails.

// Opens the terminal at `path` in raw mode (no echo, no line editing, no translation), and
// for this program alone: it holds an exclusive lock on it while open, so a second program
// that opens the device fails, as with a real USB device. Only a pseudo-terminal that is not
// the controlling terminal is taken: a bus file naming the user's own terminal, /dev/tty or
// any other device is refused before its settings are touched. A port that is no terminal at
// all (a regular file, a named pipe, /dev/null) is told apart: its bus file is wrong.
enum class SimBusTtyOpen { kOpened, kNotATerminal, kRefused };
SimBusTtyOpen OpenSimBusTty(const std::string& path, UniqueFd& fd);
// Waits until the buffer is full or `timeoutMs` has passed; `got` holds what came.
bool ReadSimBusTty(int fd, std::span<std::uint8_t> buffer, std::uint32_t timeoutMs,
                   std::uint32_t& got);
// Takes what has arrived without waiting (possibly nothing).
bool ReadSimBusTtyWaiting(int fd, std::span<std::uint8_t> buffer, std::uint32_t& got);
// Writes every byte.
bool WriteSimBusTty(int fd, std::span<const std::uint8_t> bytes, std::uint32_t& written);
// Drops what waits in the chosen directions.
bool FlushSimBusTty(int fd, bool receive, bool transmit);
