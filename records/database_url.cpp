#include "records/database_url.h"

#include <algorithm>
#include <cctype>
#include <string>

#include "records/plant_database.h"

std::optional<StoreError> UnsupportedDatabaseUrl(std::string_view target) {
    // A URL scheme: a letter, then letters, digits, "+", "-" or ".", then "://".
    const std::size_t end = target.find("://");
    if (end == std::string_view::npos || end == 0 || IsPlantUrl(target) ||
        std::isalpha(static_cast<unsigned char>(target.front())) == 0 ||
        !std::all_of(target.begin(), target.begin() + end, [](unsigned char c) {
            return std::isalnum(c) != 0 || c == '+' || c == '-' || c == '.';
        })) {
        return std::nullopt;
    }
    return StoreError{StoreStatus::Refused,
                      "the records database " + std::string(target.substr(0, end + 3)) +
                          "... is of a kind this program cannot use: give an SQLite file's path "
                          "or a plant database URL (postgresql:// or postgres://)"};
}
