#pragma once

#include <cstdint>
#include <string>

// What a front end shows of the plant database its attempts are forwarded to.
struct PlantStatus {
    std::string database;  // its URL without the password
    bool connected = false;
    std::int64_t waiting = 0;  // ended attempts not yet there
    std::string problem;       // why it is unreachable
};

// The status in words: "<database>: connected, 0 waiting" or "...: unreachable, 3 waiting
// (why)". Not escaped: a terminal's front end escapes it.
std::string PlantStatusText(const PlantStatus& status);
