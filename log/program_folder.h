#pragma once

#include <string>
#include <string_view>

// The folder of the running executable; empty when it cannot be found.
std::string ProgramFolder();

// Where the log files go: the candidate folder when it is writable, else the per-user state
// folder ($XDG_STATE_HOME/flashwright, by default $HOME/.local/state/flashwright), since an
// installed program's folder (/usr/bin) is not writable for its users. xdgStateHome and home
// are the values of those environment variables (empty when unset).
std::string LogFolderFor(std::string_view candidate, std::string_view xdgStateHome,
                         std::string_view home);

// The same with the variables of this process's environment.
std::string LogFolderFor(std::string_view candidate);
