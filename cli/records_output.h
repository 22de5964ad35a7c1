#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/attempt_record.h"
#include "records/record_reader.h"

// The outputs of "flashwright records": a table for a person, CSV (RFC 4180) and JSON Lines
// for programs. The CSV header names and the JSON field names are the same.
enum class RecordsFormat { Table, Csv, Json };

// One CSV line: fields with a comma, a quote, CR or LF quoted, quotes doubled, CRLF at the end.
std::string CsvLine(std::span<const std::string> fields);

// A record's fields in the order of the CSV header (its id, then the record's columns), and
// that header's names.
std::vector<std::string> RecordFields(std::int64_t id, const AttemptRecord& record);
std::vector<std::string> RecordHeader();

// Writes the records (each with its id) or the summary rows in the format, on `out`.
class RecordsPrinter {
  public:
    RecordsPrinter(std::FILE* out, RecordsFormat format) : out_(out), format_(format) {}
    void Record(std::int64_t id, const AttemptRecord& record);
    void Summary(std::span<const SummaryRow> rows);
    // Writes what a table gathered to align its columns.
    void Finish();

  private:
    void Emit(const std::string& text);
    std::FILE* out_;
    RecordsFormat format_;
    bool headerDone_ = false;
    std::vector<std::vector<std::string>> table_;
};
