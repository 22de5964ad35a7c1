#include "app/command_line.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "app/network_update.h"
#include "app/serial_command_line.h"

namespace {

// The windowless commands. A new link's command adds its line here.
constexpr std::array kCommands{
    CommandKeyword{"UDP", RunUdpCommand},
    CommandKeyword{"COM", RunComCommand},
    CommandKeyword{"--LIST-PORTS", RunListPortsCommand},
};

constexpr std::string_view kUsage = R"(Usage:
  flashwright                          open the desktop dialog
  flashwright UDP <address> <file>     update the device at <address> over the network
  flashwright COM <port> <file> [<baud>] [--device-type mirabel]
                                       update the device on a serial port
  flashwright --list-ports             list the serial ports present
  flashwright --help | --version

UDP (any case): opens UDP port 4107 of <address> (a dotted IPv4 address or a host name),
keeps asking the bootloader to synchronise for up to 10 s (restart the device meanwhile),
then sends the update file <file> (*.enc) frame by frame. Quote a path that holds blanks.

COM (any case): opens the serial port <port> (a device path such as /dev/ttyUSB0, also a
pseudo-terminal or an rfcomm port) with 8 data bits, no parity, one stop bit at <baud>:
110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200 (default),
128000 or 256000. With --device-type mirabel it first sends the device command FD 07 07 FE
that restarts such a device into its bootloader. Then as UDP: synchronisation for up to
10 s, the file check and the transfer. An unknown option or a baud text that is not a
number exits with status 2 before anything is tried.

Nothing is shown unless standard error is a terminal; then a progress bar and the final
message appear there. The outcome is the exit code:

   code  status  meaning
      0     0    every frame accepted
    -10   246    the network link or the serial port could not be opened
    -11   245    no bootloader answered within 10 s
    -12   244    the update file is shorter than 2 bytes, or the link could not open it
    -13   243    the update file cannot be opened, or reading it failed in the link
    -14   242    the update file has an odd size or a malformed frame
    -15   241    too many errors: no or wrong response from the device
    -16   240    the bootloader reported a signature error: the update does not fit the device
    -17   239    the bootloader is not ready
  -100-r         any other result r of the link's update (-1, not connected, gives -99)

On POSIX systems the exit status is the code modulo 256 (-10 gives 246).

Environment:
  FLASHWRIGHT_DEBUG_LOG=1   switch all four debug log outputs on (debug_log.txt,
                            debug_log.bin, TCP ports 23 and 24) to trace the update
)";

std::string UpperCase(std::string_view text) {
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return upper;
}

}  // namespace

std::string_view CommandLineUsage() {
    return kUsage;
}

std::optional<int> RunCommandLine(std::span<const std::string> args, LogSink& log) {
    if (args.empty()) {
        return std::nullopt;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
        return 0;
    }
    if (args[0] == "--version") {
        std::printf("flashwright %s\n", FLASHWRIGHT_VERSION);
        return 0;
    }
    const std::string keyword = UpperCase(args[0]);
    for (const CommandKeyword& command : kCommands) {
        if (command.keyword == keyword) {
            return command.run(args.subspan(1), log);
        }
    }
    return std::nullopt;
}
