#pragma once

#include <span>
#include <string>

#include "log/log_sink.h"

// "--list-devices": the devices attached on every link that lists them, one a line: link,
// index, description, serial number (and a Corvane device's versions). Notes go to standard
// error; the first link that cannot list its devices ends it with its code.
int RunListDevicesCommand(std::span<const std::string> operands, LogSink& log);
