#pragma once

#include <string>

#include "log/unique_fd.h"

// An exclusive lock on what one station serves (a bus folder, a fixture slot): a lock file in
// the user's runtime folder held with flock for the station's life, so a second station on the
// same bus or slot refuses to start. The kernel drops the lock when the program ends, however.
class StationLock {
  public:
    // Takes the lock named `key` for `what` (said in the message); false with `error` set when
    // another station holds it or the lock file cannot be made.
    bool Take(const std::string& key, const std::string& what, std::string& error);

  private:
    UniqueFd fd_;
};

// A lock key for any text (a resolved port, a folder's real path): a short file name of its own,
// the first 16 hexadecimal digits of the text's SHA-256.
std::string HashedLockKey(const std::string& text);

// The folder of the lock files: $XDG_RUNTIME_DIR/flashwright, else /tmp/flashwright-<uid>.
std::string StationLockFolder();
