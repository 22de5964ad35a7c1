#pragma once

#include <optional>
#include <span>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "log/log_sink.h"
#include "update/update_observer.h"

// The windowless network update: opens the link to the address, synchronises for up to 10 s,
// checks the file, sends it and returns the exit code (update/exit_codes.h). The link object
// lives only for the update and is gone before the observer hears the outcome.
int RunNetworkUpdate(const std::string& address, const std::string& path, LogSink& log,
                     Clock& clock, UpdateObserver& observer);

// What the network command line asks for.
struct NetworkUpdateRequest {
    // The devices' addresses or host names: one, several separated by commas, or those of a
    // list file ("@file").
    std::vector<std::string> addresses;
    std::string path;
    bool json = false;    // JSON events on standard output instead of the terminal display
    std::string records;  // --records: the database every attempt is written to
};

// "<address>[,<address>...]|@<list-file> <file> [--json]" after the keyword UDP: further
// operands are ignored; a missing one is a usage error with an option given, and empty
// without (the original form). Nothing when the request can be carried out;
// otherwise the exit code to end with (a usage error's, or 0 after --help printed the usage).
std::optional<int> ParseNetworkRequest(std::span<const std::string> tokens, NetworkUpdateRequest& request);

// "UDP <address> <file>": the operands after the keyword; a missing one is empty, further
// ones are ignored; an option (there are none but --help) is a usage error. Shows the
// terminal display when standard error is a terminal.
int RunNetworkCommand(std::span<const std::string> operands, LogSink& log);
