#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "log/unique_fd.h"

// The bytes of the update file as read once at the start of a session, held in a sealed
// in-memory file: nothing can change, grow or shrink them, so every device gets exactly these
// bytes even when the file on disk changes. The links open it by Path() like any file.
class SealedFile {
  public:
    // Seals a copy of `bytes`; false with `error` set when the memory file cannot be made.
    bool Seal(std::span<const std::uint8_t> bytes, std::string& error);
    // "/proc/self/fd/N": opening it opens the sealed bytes afresh.
    std::string Path() const;

  private:
    UniqueFd fd_;
};

// The whole content of a regular file (never blocking on a pipe); false when it cannot be read.
bool ReadWholeFile(const std::string& path, std::string& bytes);
