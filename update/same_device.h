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

// A fixture slot's device, resolved as above before anything opens. A name that can never be a
// device sets `error` (empty, a character no host name holds, no valid IPv4 address, a host
// that does not exist); nothing without an error is a name that cannot be resolved now (the
// resolver does not answer, a port not plugged in yet): the slot then waits for its device.
std::optional<std::string> NetworkSlotKey(const std::string& name, std::string& error);
// A port: its device, or while it is not there the real path it will be at; only an empty name
// is an error.
std::optional<std::string> SerialSlotKey(const std::string& name, std::string& error);

// The usage error for the first two names that lead to one device; empty when there are none.
std::string SameDeviceTwice(std::span<const std::string> names, const DeviceKey& key);
