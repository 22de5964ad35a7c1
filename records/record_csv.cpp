#include "records/record_csv.h"

#include <charconv>

#include "log/escaped_text.h"
#include "records/record_schema.h"

namespace {

// What a spreadsheet reads as the start of a formula.
constexpr std::string_view kFormulaStarts = "=+-@\t\r";

std::string Optional(const std::optional<int>& value) {
    return value ? std::to_string(*value) : std::string();
}

}  // namespace

bool IsWholeNumber(std::string_view text) {
    long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

std::string WithoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

std::string CsvLine(std::span<const std::string> fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& raw = fields[i];
        if (i > 0) {
            line += ',';
        }
        const bool formula = !raw.empty() &&
                             kFormulaStarts.find(raw.front()) != std::string::npos &&
                             !IsWholeNumber(raw);
        const std::string f = (formula ? "'" : "") + EscapedText(raw);
        if (f.find_first_of(",\"") == std::string::npos) {
            line += f;
            continue;
        }
        line += '"';
        for (const char c : f) {
            line += c;
            if (c == '"') {
                line += '"';
            }
        }
        line += '"';
    }
    return line + "\r\n";
}

// The id, then kRecordColumns.
std::vector<std::string> RecordFields(std::int64_t id, const AttemptRecord& r) {
    return {std::to_string(id),
            r.startedUtc,
            r.endedUtc,
            std::string(StateText(r.state)),
            r.station,
            r.operatorName,
            r.link,
            r.device,
            r.description,
            r.bootloaderVersion,
            Optional(r.deviceId),
            r.deviceName,
            r.hardware,
            r.software,
            r.fileName,
            std::to_string(r.fileSize),
            r.fileSha256,
            std::to_string(r.framesSent),
            std::to_string(r.retries),
            r.resultText.empty() ? Optional(r.resultCode) : r.resultText,
            WithoutLineEnd(r.message),
            r.job,
            r.jobSha256,
            r.lot,
            r.hook};
}

std::vector<std::string> RecordHeader() {
    std::vector<std::string> names{"id"};
    for (const std::string_view column : kRecordColumns) {
        names.emplace_back(column);
    }
    return names;
}
