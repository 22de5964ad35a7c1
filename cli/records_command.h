#pragma once

#include <optional>
#include <span>
#include <string>

#include "cli/operands.h"
#include "cli/records_output.h"
#include "log/log_sink.h"
#include "records/record_reader.h"

// What "flashwright records" asks for.
struct RecordsRequest {
    std::string path;  // the database, a file or a plant database URL; empty: the default one
    RecordFilter filter;
    RecordsFormat format = RecordsFormat::Table;
    bool summary = false;
    SummaryBy summaryBy = SummaryBy::DayAndFile;
};

// The options of "flashwright records", as its command line knows them.
std::span<const OptionSpec> RecordsOptions();

// "[--records PATH] [--since DATE] [--device ID] [--station NAME] [--file-sha256 PREFIX]
// [--lot ID] [--csv | --json] [--summary [--by lot]]" after the keyword RECORDS. Nothing when the
// request can be carried out; otherwise the exit code to end with (a usage error's, or 0 after
// --help printed the usage).
std::optional<int> ParseRecordsRequest(std::span<const std::string> tokens,
                                       RecordsRequest& request);

// Prints the records database's attempts, or their summary, on standard output; reads it
// without changing it. The exit status says why a database could not be read.
int RunRecordsCommand(std::span<const std::string> tokens, LogSink& log);
