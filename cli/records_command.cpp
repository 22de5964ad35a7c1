#include "cli/records_command.h"

#include <QDate>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdio>

#include "cli/operands.h"
#include "log/escaped_text.h"
#include "records/attempt_records.h"
#include "records/record_store.h"

namespace {

constexpr std::size_t kSha256HexDigits = 64;

constexpr std::array kRecordsOptions{
    OptionSpec{"--records", true}, OptionSpec{"--since", true},       OptionSpec{"--device", true},
    OptionSpec{"--station", true}, OptionSpec{"--file-sha256", true}, OptionSpec{"--csv", false},
    OptionSpec{"--json", false},   OptionSpec{"--summary", false},    OptionSpec{"--lot", true},
    OptionSpec{"--by", true}};

bool IsDay(const std::string& text) {
    return text.size() == 10 &&
           QDate::fromString(QString::fromStdString(text), QStringLiteral("yyyy-MM-dd")).isValid();
}

bool IsHexPrefix(const std::string& text) {
    return !text.empty() && text.size() <= kSha256HexDigits &&
           std::all_of(text.begin(), text.end(),
                       [](unsigned char c) { return std::isxdigit(c) != 0; });
}

}  // namespace

std::span<const OptionSpec> RecordsOptions() {
    return kRecordsOptions;
}

std::optional<int> ParseRecordsRequest(std::span<const std::string> tokens,
                                       RecordsRequest& request) {
    std::string error;
    const std::optional<Operands> operands = SplitOperands(tokens, kRecordsOptions, 0, error);
    if (!operands) {
        return UsageError("records", error);
    }
    if (operands->help) {
        return PrintHelp(*operands, "records");
    }
    const bool csv = operands->Option("--csv").has_value();
    const bool json = operands->Option("--json").has_value();
    if (csv && json) {
        return UsageError("records", "--csv and --json exclude each other");
    }
    request.format = csv ? RecordsFormat::Csv : json ? RecordsFormat::Json : RecordsFormat::Table;
    request.summary = operands->Option("--summary").has_value();
    if (const std::optional<std::string> by = operands->Option("--by")) {
        if (*by != "lot") {
            return UsageError("records", "--by: expected lot, got \"" + EscapedText(*by) + "\"");
        }
        if (!request.summary) {
            return UsageError("records", "--by lot needs --summary");
        }
        request.summaryBy = SummaryBy::Lot;
    }
    request.filter.lot = operands->Option("--lot").value_or(std::string());
    if (operands->Option("--lot") && request.filter.lot.empty()) {
        return UsageError("records", "--lot: the lot id is empty");
    }
    request.path = operands->Option("--records").value_or(std::string());
    if (operands->Option("--records") && request.path.empty()) {
        return UsageError("records", "--records: the path is empty");
    }
    request.filter.since = operands->Option("--since").value_or(std::string());
    if (operands->Option("--since") && !IsDay(request.filter.since)) {
        return UsageError("records", "--since: expected a day as YYYY-MM-DD, got \"" +
                                         EscapedText(request.filter.since) + "\"");
    }
    request.filter.device = operands->Option("--device").value_or(std::string());
    request.filter.station = operands->Option("--station").value_or(std::string());
    request.filter.sha256Prefix = operands->Option("--file-sha256").value_or(std::string());
    if (operands->Option("--file-sha256") && !IsHexPrefix(request.filter.sha256Prefix)) {
        return UsageError("records", "--file-sha256: expected up to 64 hexadecimal digits, got \"" +
                                         EscapedText(request.filter.sha256Prefix) + "\"");
    }
    return std::nullopt;
}

int RunRecordsCommand(std::span<const std::string> tokens, LogSink&) {
    RecordsRequest request;
    if (const std::optional<int> code = ParseRecordsRequest(tokens, request)) {
        return *code;
    }
    std::string warning;
    std::string path = RecordsTarget(request.path, warning);
    if (!warning.empty()) {
        std::fprintf(stderr, "flashwright records: %s\n", warning.c_str());
    }
    if (path.empty()) {
        path = DefaultRecordsPath();
    }
    StoreError error;
    const std::unique_ptr<RecordReader> reader = RecordReader::Open(path, error);
    RecordsPrinter printer(stdout, request.format);
    if (reader != nullptr) {
        if (request.summary) {
            std::vector<SummaryRow> rows;
            error = reader->Summary(request.filter, rows, request.summaryBy);
            printer.Summary(rows, request.summaryBy);
        } else {
            // The table measures every record in a first pass, the other formats need none;
            // both passes read one snapshot of the database.
            error = reader->Consistently([&] {
                if (request.format == RecordsFormat::Table) {
                    const StoreError measured = reader->ForEach(
                        request.filter,
                        [&](std::int64_t id, const AttemptRecord& r) { printer.Measure(id, r); });
                    if (measured.status != StoreStatus::Ok) {
                        return measured;
                    }
                }
                return reader->ForEach(
                    request.filter,
                    [&](std::int64_t id, const AttemptRecord& r) { printer.Record(id, r); });
            });
        }
        printer.Finish();
    }
    if (error.status != StoreStatus::Ok) {
        std::fprintf(stderr, "flashwright records: %s\n", EscapedText(error.message).c_str());
        return ExitStatusOf(error.status);
    }
    return 0;
}
