#pragma once

#include <string>

// The text a link page shows for the device id a bootloader reports.
std::string DeviceText(unsigned id);
void DeviceText(unsigned id, std::string& out);

// The name of a device id as the bootloader reports it ("Corvane"): the page's text without
// its " found".
std::string DeviceName(unsigned id);
