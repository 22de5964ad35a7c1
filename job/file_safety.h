#pragma once

#include <sys/stat.h>

#include <optional>
#include <string>

// A file this program takes orders from (a job, a program it runs) must be changeable by no
// one but its owner and root, its owner being the current user or root, as ssh and sudo
// require of theirs.

// Nothing when the file `st` describes is safe; otherwise what is wrong and how to fix it
// ("... (mode 0666): chmod go-w job.toml").
std::optional<std::string> UnsafeFileReason(const std::string& path, const struct stat& st);

// The same for the folders above `path` (as given, and its real path): another user who can
// write one could replace the file. A sticky folder (/tmp) is safe: there no user can replace
// another's file.
std::optional<std::string> UnsafeFolderReason(const std::string& path);

// Both, for a file by its path; a file that cannot be examined is no concern here.
std::optional<std::string> UnsafePathReason(const std::string& path);
