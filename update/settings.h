#pragma once

#include <optional>
#include <string>
#include <string_view>

// The user's settings file, the one the README and --help name:
// $XDG_CONFIG_HOME/flashwright/flashwright.conf (by default ~/.config/flashwright/), INI
// syntax. Every setting of the program is read here.
std::string SettingsFileName();

// The value of `key` ("group/name") in the settings file; nothing when the file or the key is
// not there.
std::optional<std::string> SettingsValue(std::string_view key);

// The USBXpress library the user configured (key usbxpress/library); empty when none.
std::string ConfiguredUsbXpressLibrary();
