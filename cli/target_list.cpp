#include "cli/target_list.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool ReadListFile(const std::string& path, std::vector<std::string>& targets, std::string& error) {
    std::ifstream in(path);
    if (!in || std::filesystem::is_directory(path)) {
        error = "cannot read the list file \"" + path + "\"";
        return false;
    }
    for (std::string line; std::getline(in, line);) {
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
