#include "update/sealed_file.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/regular_file.h"

bool SealedFile::Seal(std::span<const std::uint8_t> bytes, std::string& error) {
    fd_.Reset(::memfd_create("flashwright-update", MFD_CLOEXEC | MFD_ALLOW_SEALING));
    if (!fd_.Valid()) {
        error = std::string("no sealed copy of the file: ") + std::strerror(errno);
        return false;
    }
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = ::write(fd_.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = std::string("no sealed copy of the file: ") + std::strerror(errno);
            fd_.Reset();
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    constexpr int kSeals = F_SEAL_WRITE | F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL;
    if (::fcntl(fd_.Get(), F_ADD_SEALS, kSeals) != 0) {
        error = std::string("the copy of the file cannot be sealed: ") + std::strerror(errno);
        fd_.Reset();
        return false;
    }
    return true;
}

std::string SealedFile::Path() const {
    return "/proc/self/fd/" + std::to_string(fd_.Get());
}

bool ReadWholeFile(const std::string& path, std::string& bytes) {
    const FileHandle file = OpenRegularFile(path);
    if (!file) {
        return false;
    }
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, file.get());
        bytes.append(buffer, n);
        if (n < sizeof buffer) {
            return std::ferror(file.get()) == 0;
        }
    }
}
