#pragma once

#include <span>
#include <string>

#include "cli/update_observer.h"
#include "engine/clock.h"
#include "log/log_sink.h"

// The windowless network update: opens the link to the address, synchronises for up to 10 s,
// checks the file, sends it and returns the exit code (app/exit_codes.h). The link object
// lives only for the update and is gone before the observer hears the outcome.
int RunNetworkUpdate(const std::string& address, const std::string& path, LogSink& log,
                     Clock& clock, UpdateObserver& observer);

// "UDP <address> <file>": the operands after the keyword; a missing one is empty, further
// ones are ignored; an option (there are none but --help) is a usage error. Shows the
// terminal display when standard error is a terminal.
int RunUdpCommand(std::span<const std::string> operands, LogSink& log);
