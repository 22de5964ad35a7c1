#pragma once

#include <optional>
#include <span>
#include <string>

#include "log/log_sink.h"

// "job check <job-file> [--json]": checks a production job without any device (its keys, its
// safety, its hook program, its update file and that file's SHA-256); exits 0 when the job can
// be run, else with the status a station with that job would end with.
int RunJobCommand(std::span<const std::string> operands, LogSink& log);
std::optional<int> ParseJobRequest(std::span<const std::string> operands, std::string& path,
                                   bool& json);
