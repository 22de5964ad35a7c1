#pragma once

#include <optional>
#include <string_view>

#include "records/store_status.h"

// A records target that is a URL (scheme://...) of a kind of database this program cannot
// use, such as mysql://: nothing for an SQLite file's path or a plant database URL, otherwise
// the error that refuses it and says what is supported. Without it such a URL would be taken
// for a file's path.
std::optional<StoreError> UnsupportedDatabaseUrl(std::string_view target);
