#pragma once

#include <memory>
#include <string>

#include "records/attempt_records.h"

// The records a station writes every attempt to: `records` (the --records value: a path or a
// plant database URL), else the settings file's records/url, else the default local store.
// Nothing when they cannot be opened for writing (another program writes the local store, it
// is damaged or from a later version, the plant database refused the login): `error` then says
// why and `status` is the exit status for it. `notices` gets what the operator should know
// before the session starts (a password on the command line, a plant database that is away),
// one a line.
std::unique_ptr<AttemptRecords> OpenStationRecords(const std::string& records, std::string& error,
                                                   std::string& notices, int& status);
