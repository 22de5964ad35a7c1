#include "engine/device_types.h"

#include <array>

namespace {

constexpr std::array<std::uint8_t, 4> kMirabelRestart{0xFD, 0x07, 0x07, 0xFE};

constexpr std::array kDeviceTypes{
    DeviceType{UpdateLink::Serial, "Mirabel", kMirabelRestart, {}},
    DeviceType{UpdateLink::Network, "Korvo", {}, "Boot"},
    DeviceType{UpdateLink::Ftdi, "Corvane", {}, {}, 0xAA, 0x04},
    DeviceType{UpdateLink::UsbXpress,
               "Pellix-USB",
               {},
               "<StartFirmwareUpdate>\n <Session>0</Session>\n <TxID>1</TxID>\n"
               "</StartFirmwareUpdate>"},
};

}  // namespace

std::span<const DeviceType> DeviceTypes() {
    return kDeviceTypes;
}

const DeviceType* FindDeviceType(UpdateLink link, std::string_view name) {
    for (const DeviceType& type : kDeviceTypes) {
        if (type.link == link && type.name == name) {
            return &type;
        }
    }
    return nullptr;
}
