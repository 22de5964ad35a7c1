#pragma once

#include <cstdint>
#include <span>
#include <string_view>

// The links an update runs over.
enum class UpdateLink { Serial, Network, Ftdi, UsbXpress };

// A device type whose application restarts into its bootloader when told, what tells it, and
// what else the link asks it. One table holds every type; a link's code names none of them.
struct DeviceType {
    UpdateLink link;
    // As the device lists, the pages' type lists and --device-type name it.
    std::string_view name;
    // Sent as they are (serial).
    std::span<const std::uint8_t> restartBytes;
    // The network link's reset text, or the USBXpress link's XML command.
    std::string_view restartText;
    // The Corvane command that restarts it, sent with the configured code.
    std::uint8_t restartCommand = 0;
    // The Corvane command whose answer reports the device's hardware and software versions,
    // asked whenever the device list is filled; 0 for none.
    std::uint8_t versionCommand = 0;
};

// Every device type, in the order the pages list them.
std::span<const DeviceType> DeviceTypes();

// The device type of that name on the link; none for a device that is restarted by hand.
const DeviceType* FindDeviceType(UpdateLink link, std::string_view name);
