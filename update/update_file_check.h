#pragma once

#include <cstddef>
#include <string>

// What a check of an update file found, without any device: read and walked exactly as an
// update reads and checks it, so the two never disagree.
struct UpdateFileCheck {
    int exitCode = 0;          // 0, or the update's file code: -12, -13 or -14
    long long fileBytes = -1;  // the file's size; -1 when it cannot be opened
    bool decoded = false;      // read and decoded: imageBytes and the frames are known
    std::size_t imageBytes = 0;
    std::size_t frames = 0;  // the well-formed frames before the first malformed one
    unsigned smallestLength = 0;
    unsigned largestLength = 0;
    std::string verdict;  // "valid", or what is wrong and where
};

UpdateFileCheck CheckUpdateFile(const std::string& path);

// The check's first rule, which an update applies before it sends: 0 with `length` set to the
// file's size, kExitFileUnreadable when it cannot be opened, kExitFileTooShort when it is
// shorter than 2 bytes (`length` set then too).
int UpdateFileLengthRule(const std::string& path, long long& length);
