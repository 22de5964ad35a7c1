#include "cli/records_output.h"

#include <QJsonObject>

#include <algorithm>
#include <cstdio>

#include "log/escaped_text.h"
#include "log/text_format.h"
#include "records/record_json.h"
#include "records/record_schema.h"
#include "station/first_pass_yield.h"

namespace {

constexpr std::size_t kShaShown = 12;  // the table's SHA-256 prefix
constexpr std::size_t kColumnGap = 2;
constexpr std::array<std::string_view, 12> kTableColumns{
    "ID",   "STARTED (UTC)", "STATION", "OPERATOR", "LINK",    "DEVICE",
    "FILE", "SHA-256",       "RESULT",  "FRAMES",   "RETRIES", "MESSAGE"};
constexpr std::array<std::string_view, 6> kSummaryTableColumns{
    "DAY (UTC)", "FILE SHA-256", "ATTEMPTS", "PASSED", "FAILED", "FIRST-PASS YIELD"};
constexpr std::array<std::string_view, 8> kSummaryColumns{
    "day",    "file_sha256", "attempts",           "passed",
    "failed", "devices",     "first_pass_devices", "first_pass_yield"};
// By lot: the lot's id in place of the day and the file.
constexpr std::array<std::string_view, 5> kLotSummaryTableColumns{"LOT", "ATTEMPTS", "PASSED",
                                                                  "FAILED", "FIRST-PASS YIELD"};
constexpr std::array<std::string_view, 7> kLotSummaryColumns{
    "lot", "attempts", "passed", "failed", "devices", "first_pass_devices", "first_pass_yield"};
// A record's cells in the table, escaped for the terminal.
std::vector<std::string> TableRow(std::int64_t id, const AttemptRecord& r) {
    const std::string result = !r.resultText.empty() ? EscapedText(r.resultText)
                               : r.state == AttemptState::Finished && r.resultCode
                                   ? std::to_string(*r.resultCode)
                                   : std::string(StateText(r.state));
    return {std::to_string(id),
            EscapedText(r.startedUtc),
            EscapedText(r.station),
            EscapedText(r.operatorName),
            EscapedText(r.link),
            EscapedText(r.device),
            EscapedText(r.fileName),
            EscapedText(r.fileSha256.substr(0, kShaShown)),
            result,
            std::to_string(r.framesSent),
            std::to_string(r.retries),
            EscapedText(WithoutLineEnd(r.message))};
}

// The characters of escaped text (well-formed UTF-8): its bytes that begin one.
std::size_t Characters(std::string_view text) {
    return static_cast<std::size_t>(std::count_if(
        text.begin(), text.end(), [](unsigned char c) { return (c & 0xC0) != 0x80; }));
}

}  // namespace

RecordsPrinter::RecordsPrinter(std::FILE* out, RecordsFormat format) : out_(out), format_(format) {
    for (const std::string_view name : kTableColumns) {
        widths_.push_back(name.size());
    }
}

void RecordsPrinter::Emit(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), out_);
}

void RecordsPrinter::EmitRow(std::span<const std::string> cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size(); ++i) {
        line += cells[i];
        if (i + 1 < cells.size()) {
            // A record that came after the measure may be wider: it then shifts its line only.
            const std::size_t used = Characters(cells[i]);
            line += std::string(std::max(widths_[i], used) - used + kColumnGap, ' ');
        }
    }
    Emit(line + "\n");
}

void RecordsPrinter::Measure(std::int64_t id, const AttemptRecord& record) {
    if (format_ != RecordsFormat::Table) {
        return;
    }
    const std::vector<std::string> cells = TableRow(id, record);
    for (std::size_t i = 0; i < cells.size(); ++i) {
        widths_[i] = std::max(widths_[i], Characters(cells[i]));
    }
}

void RecordsPrinter::Record(std::int64_t id, const AttemptRecord& record) {
    if (format_ == RecordsFormat::Json) {
        Emit(RecordJson(id, record) + "\n");
        return;
    }
    EmitHeaderOnce();
    if (format_ == RecordsFormat::Csv) {
        Emit(CsvLine(RecordFields(id, record)));
    } else {
        EmitRow(TableRow(id, record));
    }
}

void RecordsPrinter::Summary(std::span<const SummaryRow> rows, SummaryBy by) {
    headerDone_ = true;  // the summary's own
    const bool byLot = by == SummaryBy::Lot;
    // The columns that name a row's group: the day and file, or the lot.
    const std::size_t keys = byLot ? 1 : 2;
    const std::span<const std::string_view> tableColumns =
        byLot ? std::span<const std::string_view>(kLotSummaryTableColumns) : kSummaryTableColumns;
    const std::span<const std::string_view> columns =
        byLot ? std::span<const std::string_view>(kLotSummaryColumns) : kSummaryColumns;
    std::vector<std::vector<std::string>> table{{tableColumns.begin(), tableColumns.end()}};
    if (format_ == RecordsFormat::Csv) {
        Emit(CsvLine(std::vector<std::string>(columns.begin(), columns.end())));
    }
    for (const SummaryRow& r : rows) {
        std::vector<std::string> fields =
            byLot ? std::vector<std::string>{r.lot} : std::vector<std::string>{r.day, r.fileSha256};
        for (const std::int64_t count :
             {r.attempts, r.passed, r.failed, r.devices, r.firstPassDevices}) {
            fields.push_back(std::to_string(count));
        }
        fields.push_back(StrPrintf("%.4f", r.FirstPassYield()));
        if (format_ == RecordsFormat::Csv) {
            Emit(CsvLine(fields));
        } else if (format_ == RecordsFormat::Json) {
            QJsonObject object;
            for (std::size_t i = 0; i < columns.size(); ++i) {
                const QString name = QString::fromLatin1(columns[i].data(), columns[i].size());
                object.insert(name, i < keys ? QJsonValue(QString::fromStdString(fields[i]))
                                             : QJsonValue(std::stod(fields[i])));
            }
            Emit(CompactJson(object) + "\n");
        } else {
            std::vector<std::string> cells;
            for (std::size_t i = 0; i < keys; ++i) {
                cells.push_back(EscapedText(fields[i]));
            }
            cells.insert(cells.end(), {fields[keys], fields[keys + 1], fields[keys + 2],
                                       FirstPassYieldText(r.firstPassDevices, r.devices)});
            table.push_back(std::move(cells));
        }
    }
    if (format_ != RecordsFormat::Table) {
        return;
    }
    // One row a group: few enough to gather.
    widths_.assign(tableColumns.size(), 0);
    for (const auto& row : table) {
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths_[i] = std::max(widths_[i], Characters(row[i]));
        }
    }
    for (const auto& row : table) {
        EmitRow(row);
    }
}

void RecordsPrinter::Finish() {
    EmitHeaderOnce();
}

void RecordsPrinter::EmitHeaderOnce() {
    if (format_ == RecordsFormat::Json || std::exchange(headerDone_, true)) {
        return;
    }
    if (format_ == RecordsFormat::Csv) {
        Emit(CsvLine(RecordHeader()));
    } else {
        EmitRow(std::vector<std::string>(kTableColumns.begin(), kTableColumns.end()));
    }
}
