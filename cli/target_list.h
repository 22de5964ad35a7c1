#pragma once

#include <optional>
#include <string>
#include <vector>

// The devices one command line names: one target, several separated by commas, or "@file"
// with one a line ('#' starts a comment). For serial ports, an operand that exists as a file
// is one port whatever it holds, so a device path with a comma or a leading '@' still works.
struct TargetList {
    std::vector<std::string> targets;
    std::string error;  // why there is no list: a usage error
};

TargetList ParseTargets(const std::string& operand, bool existingPathIsOne);
