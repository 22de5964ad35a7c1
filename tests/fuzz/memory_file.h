#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <span>
#include <string>

#include "log/unique_fd.h"

// An update file kept in memory and rewritten for every input: a regular file to the program,
// reached through its path under /proc/self/fd, without a disk write per input.
class MemoryFile {
  public:
    MemoryFile()
        : fd_(::memfd_create("update.enc", MFD_CLOEXEC)),
          path_("/proc/self/fd/" + std::to_string(fd_.Get())) {}

    bool Valid() const { return fd_.Valid(); }
    const std::string& Path() const { return path_; }

    // Replaces the content; true when all of it was written.
    bool Write(std::span<const std::uint8_t> content) const {
        if (::ftruncate(fd_.Get(), 0) != 0) {
            return false;
        }
        return ::pwrite(fd_.Get(), content.data(), content.size(), 0) ==
               static_cast<ssize_t>(content.size());
    }

  private:
    UniqueFd fd_;
    std::string path_;
};
