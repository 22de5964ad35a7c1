#pragma once

#include <string>
#include <string_view>

// The folder of the running executable; empty when it cannot be found.
std::string ProgramFolder();

// True when `folder` lies inside `buildTree`, compared path element by path element after
// resolving symbolic links: the program runs from the tree it was built in.
bool InBuildTree(std::string_view folder, std::string_view buildTree);

// Where the log files go by default: beside a program run from its build tree (a developer's
// build), and for every other (an installed) program the per-user state folder, even where
// its own folder is writable (root running /usr/bin/flashwright).
std::string DefaultLogFolder();

// Where the log files go: the candidate folder when it is writable, else the per-user state
// folder ($XDG_STATE_HOME/flashwright, by default $HOME/.local/state/flashwright).
// xdgStateHome and home are the values of those environment variables (empty when unset).
std::string LogFolderFor(std::string_view candidate, std::string_view xdgStateHome,
                         std::string_view home);

// The same with the variables of this process's environment.
std::string LogFolderFor(std::string_view candidate);
