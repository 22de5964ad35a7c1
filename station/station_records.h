#pragma once

#include <memory>
#include <string>

#include "records/attempt_record.h"

// The records database a station writes every attempt to: the one at `path`, or the default
// one when `path` is empty. Nothing when it cannot be opened for writing (another program
// writes it, it is damaged or from a later version): `error` then says why and `status` is the
// exit status for it.
std::unique_ptr<AttemptLog> OpenStationRecords(const std::string& path, std::string& error,
                                               int& status);
