#include "cli/target_list.h"

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "engine/regular_file.h"

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

// A list names a rack of devices, never megabytes of them.
constexpr std::size_t kMaxListBytes = 1 << 20;

bool ReadListFile(const std::string& path, std::vector<std::string>& targets, std::string& error) {
    // Only a regular file: a named pipe or a device such as /dev/zero would block the command
    // line or never end.
    const FileHandle file = OpenRegularFile(path);
    if (!file) {
        error = "cannot read the list file \"" + path + "\" (it must be a regular file)";
        return false;
    }
    std::string text(kMaxListBytes + 1, '\0');
    text.resize(std::fread(text.data(), 1, text.size(), file.get()));
    if (text.size() > kMaxListBytes) {
        error = "the list file \"" + path + "\" is larger than 1 MiB";
        return false;
    }
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (const std::string target = Trimmed(line.substr(0, line.find('#'))); !target.empty()) {
            targets.push_back(target);
        }
    }
    return true;
}

}  // namespace

TargetList ParseTargets(const std::string& operand, bool existingPathIsOne) {
    TargetList list;
    std::error_code ec;
    if (operand.empty() || (existingPathIsOne && std::filesystem::exists(operand, ec))) {
        list.targets = {operand};
        return list;
    }
    if (operand.starts_with('@')) {
        if (!ReadListFile(operand.substr(1), list.targets, list.error)) {
            return list;
        }
    } else {
        std::size_t start = 0;
        for (;;) {
            const std::size_t comma = operand.find(',', start);
            list.targets.push_back(Trimmed(operand.substr(start, comma - start)));
            if (comma == std::string::npos) {
                break;
            }
            start = comma + 1;
        }
    }
    std::set<std::string> seen;
    for (const std::string& target : list.targets) {
        if (target.empty()) {
            list.error = "an empty device name in \"" + operand + "\"";
        } else if (!seen.insert(target).second) {
            list.error = "\"" + target + "\" is named twice";
        }
        if (!list.error.empty()) {
            list.targets.clear();
            return list;
        }
    }
    if (list.targets.empty()) {
        list.error = "the list file \"" + operand.substr(1) + "\" names no device";
    }
    return list;
}
