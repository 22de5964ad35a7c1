#include "job/file_safety.h"

#include <unistd.h>

#include <filesystem>
#include <vector>

#include "log/text_format.h"

namespace {

bool TrustedOwner(uid_t owner) {
    return owner == 0 || owner == ::geteuid();
}

std::optional<std::string> Judge(const std::string& what, const std::string& path,
                                 const struct stat& st, bool stickyIsSafe) {
    const bool othersWrite = (st.st_mode & (S_IWGRP | S_IWOTH)) != 0;
    if (othersWrite && !(stickyIsSafe && (st.st_mode & S_ISVTX) != 0)) {
        return StrPrintf(
            "%s can be changed by users other than its owner (mode %04o): chmod go-w %s",
            what.c_str(), static_cast<unsigned>(st.st_mode & 07777), path.c_str());
    }
    if (!TrustedOwner(st.st_uid)) {
        return StrPrintf("%s belongs to user %u, neither you nor root: chown it to you or root",
                         what.c_str(), static_cast<unsigned>(st.st_uid));
    }
    return std::nullopt;
}

std::optional<std::string> JudgeFolders(const std::filesystem::path& file, const std::string& of) {
    for (std::filesystem::path folder = file.parent_path(); !folder.empty();
         folder = folder.parent_path()) {
        struct stat st {};
        if (::stat(folder.c_str(), &st) == 0) {
            if (std::optional<std::string> reason = Judge(
                    "the folder " + folder.string() + " of " + of, folder.string(), st, true)) {
                return reason;
            }
        }
        if (folder == folder.root_path()) {
            break;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::string> UnsafeFileReason(const std::string& path, const struct stat& st) {
    return Judge(path, path, st, false);
}

std::optional<std::string> UnsafeFolderReason(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path given = std::filesystem::absolute(path, ec).lexically_normal();
    if (std::optional<std::string> reason = JudgeFolders(given, path)) {
        return reason;
    }
    const std::filesystem::path real = std::filesystem::canonical(path, ec);
    return ec ? std::nullopt : JudgeFolders(real, path);
}

std::optional<std::string> UnsafePathReason(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (std::optional<std::string> reason = UnsafeFileReason(path, st)) {
            return reason;
        }
    }
    return UnsafeFolderReason(path);
}
