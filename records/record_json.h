#pragma once

#include <QJsonObject>

#include <cstdint>
#include <string>

#include "records/attempt_record.h"

// A record as one JSON object: its id and the record's columns, named as the CSV header names
// them (records/record_csv). "flashwright records --json" prints one a line, and a result hook
// reads one on its standard input.

// The record `id` as a JSON object: numbers as numbers, an empty optional field as null, a stored
// result code that is not a number as the text it is.
QJsonObject RecordJsonObject(std::int64_t id, const AttemptRecord& record);

// The object as compact JSON text, without a line end. JSON allows DEL and the C1 controls
// U+0080 to U+009F (a lone CSI among them) raw; they are escaped here as well, so text that is
// shown on a terminal cannot act on it.
std::string CompactJson(const QJsonObject& object);

// CompactJson of RecordJsonObject.
std::string RecordJson(std::int64_t id, const AttemptRecord& record);
