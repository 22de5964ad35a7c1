#pragma once

#include <optional>
#include <span>
#include <string>

#include "log/log_sink.h"
#include "update/update_file_check.h"

// "check <file> [--json]": prints what the check found; exits 0 for a valid file, else with
// the file code an update would end with.
int RunCheckCommand(std::span<const std::string> operands, LogSink& log);
std::optional<int> ParseCheckRequest(std::span<const std::string> operands, std::string& path,
                                     bool& json);
