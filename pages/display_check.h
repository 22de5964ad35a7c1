#pragma once

#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

// Whether the desktop dialog can open here, judged before any window object exists: Qt ends
// the process with an abort when no platform plugin can start, which a user (or a script that
// misspelled a command keyword) should never see.

// What the check looks at; the system's answers, or a test's.
struct DisplayProbe {
    std::function<std::optional<std::string>(const char* name)> environment;
    std::vector<std::string> arguments;  // the program's arguments after its name
    // The keys of the platform plugins installed, in lower case (empty when unknown).
    std::function<std::set<std::string>()> platformPlugins;
    // Whether an X server accepts a connection to this display name.
    std::function<bool(const std::string& display)> connectX;
    // Whether a Wayland compositor listens on this socket path.
    std::function<bool(const std::string& socketPath)> connectWayland;
};

struct DisplayCheck {
    bool usable = false;
    std::string missing;  // what was not found, for the user; empty when usable
};

DisplayCheck CheckDisplay(const DisplayProbe& probe);

// The probe of this process: its environment and arguments, Qt's plugin folders, and real
// connection attempts (which are given up as "usable" when they cannot be made at all).
DisplayProbe SystemDisplayProbe(int argc, char** argv);
