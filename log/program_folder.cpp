#include "log/program_folder.h"

#include <unistd.h>

#include <algorithm>
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

bool InBuildTree(std::string_view folder, std::string_view buildTree) {
    if (folder.empty() || buildTree.empty()) {
        return false;
    }
    std::error_code insideError;
    std::error_code treeError;
    const fs::path inside = fs::weakly_canonical(fs::path(folder), insideError);
    const fs::path tree = fs::weakly_canonical(fs::path(buildTree), treeError);
    if (insideError || treeError) {
        return false;
    }
    // A trailing separator leaves an empty last element; the tree is the folder before it.
    const fs::path root = tree.has_filename() ? tree : tree.parent_path();
    const auto [treeEnd, insideEnd] =
        std::mismatch(root.begin(), root.end(), inside.begin(), inside.end());
    return treeEnd == root.end();
}

std::string DefaultLogFolder() {
    const std::string program = ProgramFolder();
    return LogFolderFor(InBuildTree(program, FLASHWRIGHT_BUILD_TREE) ? program : std::string());
}

std::string LogFolderFor(std::string_view candidate) {
    const auto env = [](const char* name) {
        const char* value = std::getenv(name);
        return std::string_view(value != nullptr ? value : "");
    };
    return LogFolderFor(candidate, env("XDG_STATE_HOME"), env("HOME"));
}
