#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>

// Two names in one run may lead to one device ("127.0.0.1" and "localhost", a port and a
// link to it). Each device of a run is updated by a thread of its own, so a device named twice
// would be written by two threads at once: such a run is refused before anything is opened.

// What a name leads to, or nothing when it leads nowhere (the update then fails on its own).
using DeviceKey = std::function<std::optional<std::string>(const std::string& name)>;

// A network device: its IPv4 address, resolved as the link resolves it, and the device port.
std::optional<std::string> NetworkDeviceKey(const std::string& name);
// A serial port: the device the path leads to through any links (a character device's number).
std::optional<std::string> SerialDeviceKey(const std::string& name);

// The usage error for the first two names that lead to one device; empty when there are none.
std::string SameDeviceTwice(std::span<const std::string> names, const DeviceKey& key);
