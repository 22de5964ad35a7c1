#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "log/log_sink.h"
#include "update/sync_window.h"
#include "update/update_observer.h"

// What the serial command line asks for.
struct SerialUpdateRequest {
    std::string port;  // a device path ("/dev/ttyUSB0", a pseudo-terminal) or "COMn"
    std::string path;  // the update file
    unsigned baud = 115200;
    bool mirabel = false;  // restart the device into its bootloader with its device command
    unsigned syncWindowMs = kCommandLineSyncWindowMs;
    // Every port named: the port alone, several separated by commas, or those of a list file.
    std::vector<std::string> ports{};
    bool json = false;      // JSON events on standard output instead of the terminal display
    std::string records{};  // --records: the database every attempt is written to
};

// The windowless serial update: opens the port (8 data bits, no parity, one stop bit), sends
// the device command when asked, synchronises for up to 10 s, checks the file, sends it and
// returns the exit code (update/exit_codes.h). The link object lives only for the update and is
// gone before the observer hears the outcome. Needs a QCoreApplication in the thread.
int RunSerialUpdate(const SerialUpdateRequest& request, LogSink& log, Clock& clock,
                    UpdateObserver& observer);

// "<port>[,<port>...]|@<list-file> <file> [<baud>] [--device-type unknown|mirabel]
// [--wait SECONDS] [--json]" after the keyword COM. Nothing when the request can be carried out;
// otherwise the exit code to end with (a usage error's, or 0 after --help printed the usage).
std::optional<int> ParseComRequest(std::span<const std::string> tokens,
                                   SerialUpdateRequest& request);

// "COM <port> <file> [<baud>] [--device-type unknown|mirabel]": the operands after the keyword.
// Shows the terminal display when standard error is a terminal.
int RunComCommand(std::span<const std::string> operands, LogSink& log);

// "--list-ports": prints the serial ports present, one a line with their descriptions.
int RunListPortsCommand(std::span<const std::string> operands, LogSink& log);
