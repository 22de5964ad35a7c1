#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/attempt_record.h"
#include "records/record_csv.h"
#include "records/record_reader.h"

// The outputs of "flashwright records": a table for a person, CSV (RFC 4180) and JSON Lines
// for programs. The CSV header names and the JSON field names are the same (records/record_csv).
enum class RecordsFormat { Table, Csv, Json };

// Writes the records (each with its id) or the summary rows in the format, on `out`. A table
// is aligned without holding its rows: every record is measured first, then printed.
class RecordsPrinter {
  public:
    RecordsPrinter(std::FILE* out, RecordsFormat format);
    // Widens the table's columns to the record's; the other formats need no measure.
    void Measure(std::int64_t id, const AttemptRecord& record);
    // Writes the record, in a table with the widths measured so far.
    void Record(std::int64_t id, const AttemptRecord& record);
    void Summary(std::span<const SummaryRow> rows, SummaryBy by = SummaryBy::DayAndFile);
    // Writes the header of a table or CSV that had no record.
    void Finish();

  private:
    void Emit(const std::string& text);
    void EmitRow(std::span<const std::string> cells);
    void EmitHeaderOnce();
    std::FILE* out_;
    RecordsFormat format_;
    bool headerDone_ = false;
    std::vector<std::size_t> widths_;  // the table's columns, in characters
};
