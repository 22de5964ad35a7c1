#include "log/program_folder.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

std::string ProgramFolder() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) {
        return {};
    }
    return exe.parent_path().string();
}

std::string LogFolderFor(std::string_view candidate, std::string_view xdgStateHome,
                         std::string_view home) {
    const std::string folder(candidate);
    if (!folder.empty() && ::access(folder.c_str(), W_OK) == 0) {
        return folder;
    }
    // A relative XDG_STATE_HOME is invalid and must be ignored.
    if (!xdgStateHome.empty() && xdgStateHome.front() == '/') {
        return (fs::path(xdgStateHome) / "flashwright").string();
    }
    if (!home.empty()) {
        return (fs::path(home) / ".local" / "state" / "flashwright").string();
    }
    return folder;
}

std::string LogFolderFor(std::string_view candidate) {
    const auto env = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string_view(value != nullptr ? value : "");
    };
    return LogFolderFor(candidate, env("XDG_STATE_HOME"), env("HOME"));
}
