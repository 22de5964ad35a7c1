#pragma once

#include <cstdio>
#include <memory>
#include <string>

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// Opens a regular file for reading, or gives nothing. The open itself never blocks: a named
// pipe without a writer would otherwise hang the program before the file could be checked.
// Anything that is not a regular file once opened (a pipe, a socket, a character or block
// device, a folder), also when reached through a symbolic link, is refused.
FileHandle OpenRegularFile(const std::string& path);
