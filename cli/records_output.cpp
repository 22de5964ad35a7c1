#include "cli/records_output.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <cstdio>

#include "log/escaped_text.h"
#include "log/text_format.h"
#include "records/record_schema.h"
#include "station/first_pass_yield.h"

namespace {

constexpr std::size_t kShaShown = 12;  // the table's SHA-256 prefix
constexpr std::array<std::string_view, 8> kSummaryColumns{
    "day",    "file_sha256", "attempts",           "passed",
    "failed", "devices",     "first_pass_devices", "first_pass_yield"};

std::string WithoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

std::string Optional(const std::optional<int>& value) {
    return value ? std::to_string(*value) : std::string();
}

// A record's fields in the order of the CSV header: the id, then kRecordColumns.
std::vector<std::string> Fields(std::int64_t id, const AttemptRecord& r) {
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
            Optional(r.resultCode),
            WithoutLineEnd(r.message)};
}

std::vector<std::string> Header() {
    std::vector<std::string> names{"id"};
    for (const std::string_view column : kRecordColumns) {
        names.emplace_back(column);
    }
    return names;
}

// The JSON value of a field: numbers as numbers, an empty optional field as null.
QJsonValue JsonField(std::string_view name, const std::string& text) {
    static constexpr std::array<std::string_view, 6> kNumbers{
        "id", "device_id", "file_size", "frames_sent", "retries", "result_code"};
    if (std::find(kNumbers.begin(), kNumbers.end(), name) != kNumbers.end()) {
        return text.empty() ? QJsonValue() : QJsonValue(std::stoll(text));
    }
    if (name == "ended_utc" && text.empty()) {
        return QJsonValue();
    }
    return QString::fromStdString(text);
}

std::string JsonLine(std::span<const std::string_view> names, std::span<const std::string> fields) {
    QJsonObject object;
    for (std::size_t i = 0; i < names.size(); ++i) {
        object.insert(QString::fromLatin1(names[i].data(), names[i].size()),
                      JsonField(names[i], fields[i]));
    }
    return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n";
}

}  // namespace

std::string CsvLine(std::span<const std::string> fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        const std::string& f = fields[i];
        if (i > 0) {
            line += ',';
        }
        if (f.find_first_of(",\"\r\n") == std::string::npos) {
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

void RecordsPrinter::Emit(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), out_);
}

void RecordsPrinter::Record(std::int64_t id, const AttemptRecord& record) {
    const std::vector<std::string> fields = Fields(id, record);
    if (format_ == RecordsFormat::Csv) {
        if (!std::exchange(headerDone_, true)) {
            Emit(CsvLine(Header()));
        }
        Emit(CsvLine(fields));
        return;
    }
    if (format_ == RecordsFormat::Json) {
        const std::vector<std::string> header = Header();
        std::vector<std::string_view> names(header.begin(), header.end());
        Emit(JsonLine(names, fields));
        return;
    }
    if (table_.empty()) {
        table_.push_back({"ID", "STARTED (UTC)", "LINK", "DEVICE", "FILE", "SHA-256", "RESULT",
                          "FRAMES", "RETRIES", "MESSAGE"});
    }
    const std::string result = record.state == AttemptState::Finished && record.resultCode
                                   ? std::to_string(*record.resultCode)
                                   : std::string(StateText(record.state));
    table_.push_back({fields[0], EscapedText(record.startedUtc), EscapedText(record.link),
                      EscapedText(record.device), EscapedText(record.fileName),
                      EscapedText(record.fileSha256.substr(0, kShaShown)), result, fields[17],
                      fields[18], EscapedText(WithoutLineEnd(record.message))});
}

void RecordsPrinter::Summary(std::span<const SummaryRow> rows) {
    if (format_ == RecordsFormat::Table) {
        table_.push_back(
            {"DAY (UTC)", "FILE SHA-256", "ATTEMPTS", "PASSED", "FAILED", "FIRST-PASS YIELD"});
    } else if (format_ == RecordsFormat::Csv) {
        Emit(CsvLine(std::vector<std::string>(kSummaryColumns.begin(), kSummaryColumns.end())));
    }
    for (const SummaryRow& r : rows) {
        std::vector<std::string> fields{r.day,
                                        r.fileSha256,
                                        std::to_string(r.attempts),
                                        std::to_string(r.passed),
                                        std::to_string(r.failed),
                                        std::to_string(r.devices),
                                        std::to_string(r.firstPassDevices),
                                        StrPrintf("%.4f", r.FirstPassYield())};
        if (format_ == RecordsFormat::Csv) {
            Emit(CsvLine(fields));
        } else if (format_ == RecordsFormat::Json) {
            QJsonObject object;
            for (std::size_t i = 0; i < kSummaryColumns.size(); ++i) {
                const QString name =
                    QString::fromLatin1(kSummaryColumns[i].data(), kSummaryColumns[i].size());
                object.insert(name, i < 2 ? QJsonValue(QString::fromStdString(fields[i]))
                                          : QJsonValue(std::stod(fields[i])));
            }
            Emit(QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() + "\n");
        } else {
            table_.push_back({EscapedText(r.day), EscapedText(r.fileSha256), fields[2], fields[3],
                              fields[4], FirstPassYieldText(r.firstPassDevices, r.devices)});
        }
    }
}

void RecordsPrinter::Finish() {
    if (table_.empty()) {
        return;
    }
    std::vector<std::size_t> widths(table_.front().size(), 0);
    for (const auto& row : table_) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths[i] = std::max(widths[i], row[i].size());
        }
    }
    for (const auto& row : table_) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) {
                line += std::string(widths[i] - row[i].size() + 2, ' ');
            }
        }
        Emit(line + "\n");
    }
    table_.clear();
}

std::vector<std::string> RecordFields(std::int64_t id, const AttemptRecord& record) {
    return Fields(id, record);
}

std::vector<std::string> RecordHeader() {
    return Header();
}
