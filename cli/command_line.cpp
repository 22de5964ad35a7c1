#include "cli/command_line.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <vector>

#include "cli/check_command.h"
#include "cli/device_request.h"
#include "cli/ftdi_command_line.h"
#include "cli/job_command.h"
#include "cli/list_devices_command.h"
#include "cli/network_command_line.h"
#include "cli/operands.h"
#include "cli/records_command.h"
#include "cli/serial_command_line.h"
#include "cli/station_command.h"
#include "cli/usbxpress_command_line.h"
#include "update/link_table.h"

namespace {

std::optional<int> CheckNetwork(std::span<const std::string> tokens) {
    NetworkUpdateRequest request;
    return ParseNetworkRequest(tokens, request);
}

std::optional<int> CheckCom(std::span<const std::string> tokens) {
    SerialUpdateRequest request;
    return ParseComRequest(tokens, request);
}

std::optional<int> CheckListPorts(std::span<const std::string> tokens) {
    return ParseNoOperands(tokens, "--list-ports");
}

std::optional<int> CheckFtdi(std::span<const std::string> tokens) {
    DeviceUpdateRequest request;
    return ParseDeviceRequest(tokens, "FTDI", request);
}

std::optional<int> CheckUsbXpress(std::span<const std::string> tokens) {
    DeviceUpdateRequest request;
    return ParseDeviceRequest(tokens, "USBX", request);
}

std::optional<int> CheckFileCheck(std::span<const std::string> tokens) {
    std::string path;
    bool json = false;
    return ParseCheckRequest(tokens, path, json);
}

std::optional<int> CheckJobCommand(std::span<const std::string> tokens) {
    std::string path;
    bool json = false;
    return ParseJobRequest(tokens, path, json);
}

std::optional<int> CheckStation(std::span<const std::string> tokens) {
    StationRequest request;
    return ParseStationRequest(tokens, request);
}

std::optional<int> CheckRecords(std::span<const std::string> tokens) {
    RecordsRequest request;
    return ParseRecordsRequest(tokens, request);
}

std::optional<int> CheckListDevices(std::span<const std::string> tokens) {
    return ParseNoOperands(tokens, "--list-devices");
}

// Each link's command line, named by the link's keyword in the link table. A new link's
// command adds its line here.
struct LinkCommand {
    UpdateLink link;
    std::optional<int> (*check)(std::span<const std::string> operands);
    int (*run)(std::span<const std::string> operands, LogSink& log);
};
constexpr std::array kLinkCommands{
    LinkCommand{UpdateLink::Network, CheckNetwork, RunNetworkCommand},
    LinkCommand{UpdateLink::Serial, CheckCom, RunComCommand},
    LinkCommand{UpdateLink::Ftdi, CheckFtdi, RunFtdiCommand},
    LinkCommand{UpdateLink::UsbXpress, CheckUsbXpress, RunUsbXpressCommand},
};

// The windowless commands besides the links'.
constexpr std::array kOtherCommands{
    CommandKeyword{"--LIST-PORTS", CheckListPorts, RunListPortsCommand},
    CommandKeyword{"--LIST-DEVICES", CheckListDevices, RunListDevicesCommand},
    CommandKeyword{"CHECK", CheckFileCheck, RunCheckCommand},
    CommandKeyword{"STATION", CheckStation, RunStationCommand},
    CommandKeyword{"RECORDS", CheckRecords, RunRecordsCommand},
    CommandKeyword{"JOB", CheckJobCommand, RunJobCommand},
};

// The links' commands, then the others.
const std::vector<CommandKeyword>& AllCommands() {
    static const std::vector<CommandKeyword> commands = [] {
        std::vector<CommandKeyword> all;
        for (const LinkCommand& command : kLinkCommands) {
            all.push_back({FindLink(command.link).keyword, command.check, command.run});
        }
        all.insert(all.end(), kOtherCommands.begin(), kOtherCommands.end());
        return all;
    }();
    return commands;
}

// The usage, in pieces: the station and records commands print their own form and text.
constexpr std::string_view kUsageForms = R"(Usage:
  flashwright                          open the desktop dialog
  flashwright UDP <address> <file> [--json] [--records PATH]
                                       update the device at <address> over the network
  flashwright UDP <address>,<address>... <file> [--json]
                                       update several devices at once
  flashwright UDP @<list-file> <file> [--json]
                                       update the devices of a list file at once
  flashwright COM <port> <file> [<baud>] [--device-type mirabel] [--json]
                                       update the device on a serial port
  flashwright COM <port>,<port>... <file> [<baud>] [options]
                                       update the devices on several serial ports at once
  flashwright COM @<list-file> <file> [<baud>] [options]
                                       the same for the ports of a list file
  flashwright --list-ports             list the serial ports present
  flashwright FTDI <serial-number> <file> [--description TEXT] [--wait SECONDS]
                                       update the FTDI-attached device with that serial number
  flashwright USBX <serial-number> <file> [--description TEXT] [--wait SECONDS]
                                       update the USBXpress device with that serial number
  flashwright --list-devices           list the FTDI and USBXpress devices attached
  flashwright check <file> [--json]    check an update file without any device
  flashwright job check <job-file> [--json]
                                       check a production job without any device
)";
constexpr std::string_view kStationForm =
    R"(  flashwright station <file> --link FTDI|USBX|COM|UDP [--slots LIST|@list-file]
              [--match VID:PID,...] [--device-type T] [--station NAME] [--operator NAME]
              [--records PATH] [--json | --window] [--metrics ADDR:PORT]
                                       update every device that arrives, once per visit
  flashwright station --job <job-file> [--operator NAME] [--station NAME] [--records PATH]
              [--json | --window] [--metrics ADDR:PORT]
                                       the same with the settings of a production job
)";
constexpr std::string_view kRecordsForm =
    R"(  flashwright records [--records PATH] [--since DATE] [--device ID] [--station NAME]
                      [--file-sha256 PREFIX] [--lot ID] [--csv | --json]
                      [--summary [--by lot]]
                                       print the recorded update attempts
)";
constexpr std::string_view kUsageAfterForms =
    R"(  flashwright --help | --version      print this usage, or the version

UDP (any case): opens UDP port 4107 of <address> (a dotted IPv4 address or a host name),
keeps asking the bootloader to synchronise for up to 10 s (restart the device meanwhile),
then sends the update file <file> (*.enc) frame by frame. Quote a path that holds blanks:
operands after <file> are ignored.

COM (any case): opens the serial port <port> (a device path such as /dev/ttyUSB0, also a
pseudo-terminal or an rfcomm port) with 8 data bits, no parity, one stop bit at <baud>:
110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200 (default),
128000 or 256000. With --device-type mirabel it first sends the device command FD 07 07 FE
that restarts such a device into its bootloader. Then as UDP: synchronisation for up to
10 s, the file check and the transfer.

FTDI (any case): finds the FTDI device by its serial number (--description picks among
devices with equal serial numbers), switches a Corvane device into its bootloader with its
enter-bootloader command, opens the device at 115200 baud, then as UDP. A Corvane device that
does not switch (no or a wrong answer, or no code configured): on a terminal the program
guides through unplugging and replugging it (Ctrl-C cancels); otherwise it ends with -18.

USBX (any case): finds the USBXpress device by its serial number, opens it at 115200 baud,
sends a Pellix-USB device the command that starts its firmware update and opens it again,
then as UDP (on a terminal it first asks you to power-cycle the device).

Several devices: a comma-separated list or a list file (one address, host name or port a
line, '#' starts a comment) updates every device at once, each on a thread of its own. On a
terminal each device has a line of its own (progress, then its final message) and a summary
follows. The exit status is 0 when every device succeeded, otherwise that of the first
device in the order given that failed; --json gives every device's code. A serial port
whose path holds a comma or starts with '@' is taken as one port when it exists.

--json (every update and check): JSON Lines on standard output instead of the terminal
display, one object per event, each with "event" and "device": start (link, file, size,
frames), synchronised (bootloaderVersion, deviceId, deviceName), progress (percent, bytes;
about ten a second at most), retry (frame, reply), result (code, exitStatus, message,
seconds, framesSent, retries). Ctrl-C or SIGTERM ends every device under way with a result
(code 130 or 143) before it ends the program.

check: reads and walks an update file as an update would, without any device, and prints
its size, frames, smallest and largest L, and "valid" or the first malformed frame (offset,
L, reason). Exit status 0 for a valid file, otherwise the file codes -12, -13 or -14 below.

job check: checks a production job (a TOML file) without any device: every table and key
(an unknown key or a wrong type is named with its line and column), that the job file and its
hook program can be changed by no one but their owner (you or root) and root, that the hook
program exists and is executable, the update file as check checks it, and its SHA-256 against
job.sha256. Exit status 0 when the job can run, 80 for a job file or hook others can change,
78 for any other fault of the job, the file codes below, 79 for an update file that is not the
approved one. station --job FILE runs the job, refusing to start as job check would; the
options the job sets (the file, --link, --slots, --match, --device-type) cannot be given too.

)";
constexpr std::string_view kStationText =
    R"(station: reads and checks the file once and keeps exactly those bytes for the session, then
waits for devices: FTDI and USBX devices udev reports plugged in (or those on the simulated bus
folder FLASHWRIGHT_FTDI_BUS or FLASHWRIGHT_USBXPRESS_BUS names), UDP or COM fixture slots
(--slots) whose bootloader answers, or USB serial adapters with the ids of --match (COM).
Each device is updated once per visit on a thread of its own; a device that needs a replug is
recorded so. The first Ctrl-C, SIGTERM or SIGHUP takes no new devices and lets running updates
end, a second cancels them. Exit status 0 when every attempt succeeded, else that of the last
failure; 2 when another station serves the same bus or slot, or a slot names no device or the
same device as another; -10 when udev is not running or the bus folder does not exist.
--window shows the station in a window for the operator instead of the terminal: a tile per
device, the counters, and the stop buttons.
--metrics ADDR:PORT (also [metrics] listen in a job, metrics/listen in the settings) serves the
station's figures for a monitoring server at http://ADDR:PORT/metrics, read only; the address
is always given, never implied. A port that cannot be bound ends the station at the start
(status 71).
)";
constexpr std::string_view kUsageBetween = R"(
COM, FTDI and USBX take --wait SECONDS to keep asking the bootloader for longer than 10 s, for
a device you must power-cycle by hand.

--records PATH (UDP, COM, FTDI, USBX): every device's attempt is recorded in the SQLite
database at PATH (made when missing; see records): its row is written before the update
starts and completed when it ends. A row that cannot be written leaves the device untouched
(status 73). One program at a time writes a database; another one is refused (status 75).
--records postgresql://USER@HOST:PORT/DATABASE (also the station; the settings' records/url
when no --records is given) names a plant database that many stations share: every attempt
is written to the local database (the default one) first and forwarded in the background,
in order, each once by its unique id. While the server is away the updates go on and the
records wait locally; at the end the program waits up to 10 s for them and says how many are
left (the next program sends them). The password comes from ~/.pgpass or PGPASSWORD; one in
the URL is accepted with a warning, as every user sees it in the process list. A refused
login ends the program at the start (status 77); an unreachable server does not.

)";
constexpr std::string_view kRecordsText =
    R"(records: reads the records database (by default $XDG_STATE_HOME/flashwright/records.sqlite,
that is ~/.local/state/flashwright/records.sqlite; --records PATH or a plant database URL
picks another) without
changing it, also while another program writes it, and prints a table of the attempts, oldest
first. --since DATE keeps the attempts from that UTC day (YYYY-MM-DD) on, --device ID those of
the device with exactly that address, port or serial number, --station NAME those of exactly
that station, --file-sha256 PREFIX those with a file whose SHA-256 starts with the hexadecimal
PREFIX (any case), --lot ID those of exactly that production lot. --csv prints CSV (RFC
4180: a header row, CRLF line ends; a field that begins with =, +, -, @, a tab or CR gets a '
before it, so a spreadsheet runs no formula, and control characters are escaped), --json one
JSON object a line with the CSV header's names. --summary counts per UTC day and file:
attempts, passed (code 0), failed (another code, or interrupted: the program ended first),
and the first-pass yield, the share of the devices whose first attempt that day with that
file passed. --summary --by lot counts per production lot instead, its first-pass yield over
the devices of the lot.
)";
constexpr std::string_view kUsageRest = R"(
Options may stand anywhere after the keyword ("--device-type=mirabel" also works); "--"
ends them, for a path that starts with "-". An unknown option, an option without its value,
a missing operand, an operand too many for COM or --list-ports, or a baud that is not a
number exits with status 2 before anything is tried (UDP without any option keeps its
original outcome: -10 without an address, -13 without a file). The update file must be a
regular file. With --json, --help prints the usage on standard error.

Without a command keyword the desktop dialog opens; where no display can be reached the
program says so and exits with status 2.

Nothing is shown unless standard error is a terminal; then a progress bar and the final
message appear there. The outcome is the exit code:

   code  status  meaning
      0     0    every frame accepted
             2    usage error or no display: nothing was tried
    -10   246    the network link or the serial port could not be opened
    -11   245    no bootloader answered within 10 s
    -12   244    the update file is shorter than 2 bytes, or the link could not open it
    -13   243    the update file cannot be opened, or reading it failed in the link
    -14   242    the update file has an odd size or a malformed frame
    -15   241    too many errors: no or wrong response from the device
    -16   240    the bootloader reported a signature error: the update does not fit the device
    -17   239    the bootloader is not ready
    -18   238    a Corvane device did not switch into its bootloader
    -20   236    the device is not the one expected (its id or bootloader version): no
                 frame was sent
  -100-r         any other result r of the link's update (-1, not connected, gives -99)

On POSIX systems the exit status is the code modulo 256 (-10 gives 246).

The records command, and --records, end with a status of their own when the database fails:
     65  it is damaged, or not a records database
     66  there is no database at the path, or no records in the plant database (records)
     69  the plant database's server cannot be reached (records)
     73  an attempt's row cannot be written (disk full, read-only): the device was not updated
     75  another program holds it: a station or an update writing it, or a lock SQLite reports
     76  a later version of flashwright wrote it; this one does not change or read it
     77  the plant database refused the login, its URL is not one, or its driver is missing

Environment:
  FLASHWRIGHT_DEBUG_LOG=1     trace the update in the debug log files debug_log.txt and
                              debug_log.bin (also FLASHWRIGHT_DEBUG_LOG=files)
  FLASHWRIGHT_DEBUG_LOG=all   the two files, and the log served on TCP ports 23 (lines) and
                              24 (dumps) of every interface, as the dialog's Debug box does.
                              The listeners ask for no password: anyone who can reach this
                              machine on those ports reads the trace (addresses, file paths,
                              every byte sent and received) while the program runs.
  FLASHWRIGHT_CORVANE_CODE=HEX8
                              the 4-byte enter-bootloader code of your Corvane devices, as 8
                              hexadecimal digits in the order sent; otherwise the key
                              corvane/enterBootloaderCode of ~/.config/flashwright/flashwright.conf
  FLASHWRIGHT_USBXPRESS_LIBRARY=PATH
                              the vendor's USBXpress library to load (otherwise the key
                              usbxpress/library of the settings file, or libSiUSBXp.so on the
                              library path)
  FLASHWRIGHT_USBXPRESS_BUS=DIR
                              use the simulated USBXpress devices on the bus folder DIR
  FLASHWRIGHT_FTDI_BUS=DIR    use the simulated FTDI devices on the bus folder DIR (see
                              flashwright-sim --transport ftdi) instead of the USB devices

Files:
  debug_log.txt, debug_log.bin
                              the debug log's lines and dumps: in $XDG_STATE_HOME/flashwright
                              (by default ~/.local/state/flashwright), or beside a program run
                              from its build folder
  records.sqlite              the records of update attempts: in $XDG_STATE_HOME/flashwright
                              (by default ~/.local/state/flashwright)
  ~/.config/flashwright/flashwright.conf
                              the settings: corvane/enterBootloaderCode (the Corvane code as 8
                              hexadecimal digits), usbxpress/library (the path of the
                              vendor's USBXpress library) and records/url (a plant database)
)";

// What follows a command's own usage: where the rest is told.
constexpr std::string_view kMoreHelp = R"(
Run "flashwright --help" for --records, the exit statuses, the environment and the files.
)";

// A command whose --help prints its own form and text instead of the whole usage.
struct CommandUsage {
    std::string_view keyword;  // upper case
    std::string_view form;
    std::string_view text;
};
constexpr std::array kCommandUsages{CommandUsage{"STATION", kStationForm, kStationText},
                                    CommandUsage{"RECORDS", kRecordsForm, kRecordsText}};

const std::string& WholeUsage() {
    static const std::string usage = [] {
        std::string text;
        for (const std::string_view piece :
             {kUsageForms, kStationForm, kRecordsForm, kUsageAfterForms, kStationText,
              kUsageBetween, kRecordsText, kUsageRest}) {
            text += piece;
        }
        return text;
    }();
    return usage;
}

// The forms a user without a display can turn to.
constexpr std::string_view kCommandForms = R"(  flashwright UDP <address> <file>
  flashwright COM <port> <file> [<baud>] [--device-type mirabel]
  flashwright --list-ports
  flashwright FTDI <serial-number> <file> [--description TEXT] [--wait SECONDS]
  flashwright USBX <serial-number> <file>
  flashwright --list-devices
  flashwright check <file>
  flashwright records [--csv | --json] [--summary]
)";

// Edit distance with adjacent transpositions ("upd" is one step from "udp").
std::size_t EditDistance(std::string_view a, std::string_view b) {
    std::vector<std::vector<std::size_t>> d(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (std::size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t cost = a[i - 1] == b[j - 1] ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// The command the first token names, or nothing.
const CommandKeyword* FindCommand(std::string_view word) {
    const std::string keyword = UpperCase(word);
    for (const CommandKeyword& command : AllCommands()) {
        if (command.keyword == keyword) {
            return &command;
        }
    }
    return nullptr;
}

}  // namespace

std::span<const CommandKeyword> CommandKeywords() {
    return AllCommands();
}

std::string_view CommandLineUsage() {
    return WholeUsage();
}

std::string_view CommandForms() {
    return kCommandForms;
}

int PrintUsage(bool json, std::string_view command) {
    const std::string keyword = UpperCase(command);
    const auto own =
        std::find_if(kCommandUsages.begin(), kCommandUsages.end(),
                     [&](const CommandUsage& usage) { return usage.keyword == keyword; });
    const std::string text = own == kCommandUsages.end() ? WholeUsage()
                                                         : std::string("Usage:\n")
                                                               .append(own->form)
                                                               .append("\n")
                                                               .append(own->text)
                                                               .append(kMoreHelp);
    std::fwrite(text.data(), 1, text.size(), json ? stderr : stdout);
    return 0;
}

std::optional<std::string> SuggestKeyword(std::string_view word) {
    const std::string upper = UpperCase(word);
    // Every command keyword, and the two options that stand alone.
    std::vector<std::string_view> words;
    for (const CommandKeyword& command : AllCommands()) {
        words.push_back(command.keyword);
    }
    words.insert(words.end(), {"--HELP", "--VERSION"});
    for (const std::string_view keyword : words) {
        // One slip in a short keyword, two in a long one; a file name is far from all.
        const std::size_t allowed = keyword.size() <= 3 ? 1 : 2;
        if (upper != keyword && EditDistance(upper, keyword) <= allowed) {
            return keyword.starts_with("--") ? LowerCase(keyword) : std::string(keyword);
        }
    }
    return std::nullopt;
}

std::optional<int> CheckCommandLine(std::span<const std::string> args) {
    if (args.empty()) {
        return std::nullopt;
    }
    if (args[0] == "--help" || args[0] == "-h") {
        return PrintUsage(std::find(args.begin(), args.end(), "--json") != args.end());
    }
    if (args[0] == "--version") {
        std::string error;
        if (!SplitOperands(args.subspan(1), {}, 0, error)) {
            return UsageError("--version", error);
        }
        std::printf("flashwright %s\n", FLASHWRIGHT_VERSION);
        return 0;
    }
    const CommandKeyword* command = FindCommand(args[0]);
    return command != nullptr ? command->check(args.subspan(1)) : std::nullopt;
}

std::optional<int> RunCommandLine(std::span<const std::string> args, LogSink& log) {
    if (const std::optional<int> code = CheckCommandLine(args)) {
        return code;
    }
    const CommandKeyword* command = args.empty() ? nullptr : FindCommand(args[0]);
    if (command == nullptr) {
        return std::nullopt;
    }
    return command->run(args.subspan(1), log);
}
