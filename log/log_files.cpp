#include "log/log_files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Opens for writing at the end, created when missing, never truncated; invalid when the
// file cannot be opened or another writer holds its lock.
UniqueFd OpenLocked(const std::filesystem::path& path) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    if (!fd.Valid() || ::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
        return {};
    }
    // Not every file can seek (a pipe, say); such a file is written as it comes.
    ::lseek(fd.Get(), 0, SEEK_END);
    return fd;
}

void WriteAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        text.remove_prefix(static_cast<std::size_t>(n));
    }
}

}  // namespace

bool LogFile::Open(const std::filesystem::path& path) {
    fd_ = OpenLocked(path);
    if (!fd_.Valid()) {
        return false;
    }
    WriteAll(fd_.Get(), "\n");
    return true;
}

void LogFile::Write(std::string_view text) const {
    if (fd_.Valid()) {
        WriteAll(fd_.Get(), text);
    }
}

void AppendToFile(const std::filesystem::path& path, std::string_view text) {
    const UniqueFd fd = OpenLocked(path);
    if (fd.Valid()) {
        WriteAll(fd.Get(), text);
        WriteAll(fd.Get(), "\n");
    }
}
