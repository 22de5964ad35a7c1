#pragma once

#include <filesystem>
#include <string_view>

#include "log/unique_fd.h"

// A log file open for appending. Opening locks it exclusively, so a second writer (another
// instance of the program) cannot interleave its lines; the earlier contents stay.
class LogFile {
  public:
    // Opens (or creates) the file without truncating it and appends one line feed, so each
    // switching-on leaves an empty line. False when it cannot be opened or another writer
    // holds it.
    bool Open(const std::filesystem::path& path);
    void Close() { fd_.Reset(); }
    bool IsOpen() const { return fd_.Valid(); }

    // Appends the text. Errors (a full disk, say) are ignored: logging must never stop the
    // program. Does nothing while the file is closed.
    void Write(std::string_view text) const;

  private:
    UniqueFd fd_;
};

// Appends the text and one more line feed to the file, which is opened and locked for this
// write only. Nothing is written when the file cannot be opened.
void AppendToFile(const std::filesystem::path& path, std::string_view text);
