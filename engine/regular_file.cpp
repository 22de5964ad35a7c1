#include "engine/regular_file.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#else
#include <filesystem>
#endif

FileHandle OpenRegularFile(const std::string& path) {
#ifndef _WIN32
    // O_NONBLOCK keeps the open of a pipe from waiting for a writer; reads of a regular file
    // are unaffected by it. The type is checked on the open file, so nothing can be swapped in
    // between the check and the reading.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    FileHandle file(::fdopen(fd, "rb"));
    if (!file) {
        ::close(fd);
    }
    return file;
#else
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        return nullptr;
    }
    return FileHandle(std::fopen(path.c_str(), "rb"));
#endif
}
