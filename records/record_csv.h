#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "records/attempt_record.h"

// The one column list of a record in text: "flashwright records --csv" and the station window's
// export write these columns, and --json names its fields so.

// One CSV line (RFC 4180): fields with a comma or a quote quoted, quotes doubled, CRLF at the
// end. As a spreadsheet would run a field that begins with =, +, -, @, a tab or CR as a formula,
// such a field (other than a whole number) gets a ' before it; control characters are escaped
// as on the terminal, so the file can be shown on one too.
std::string CsvLine(std::span<const std::string> fields);

// A record's fields in the order of the CSV header (its id, then the record's columns), and
// that header's names.
std::vector<std::string> RecordFields(std::int64_t id, const AttemptRecord& record);
std::vector<std::string> RecordHeader();

// Whether `text` is a whole number and nothing else.
bool IsWholeNumber(std::string_view text);
// A message as one field: without the line end it may close with.
std::string WithoutLineEnd(std::string text);
