#include "update/link_table.h"

#include <array>

#include "log/text_format.h"
#include "update/ftdi_update.h"
#include "update/network_update.h"
#include "update/same_device.h"
#include "update/serial_update.h"
#include "update/usbxpress_update.h"

namespace {

// The FTDI chips the FTDI link finds and the udev rules give access to (vendor 0x0403).
constexpr UsbId kFtdiUsbIds[] = {
    {0x0403, 0x6001}, {0x0403, 0x6010}, {0x0403, 0x6011}, {0x0403, 0x6014}, {0x0403, 0x6015}};
// The USBXpress devices (vendor 0x10C4, product 0xEA61), as the udev rules list them.
constexpr UsbId kUsbXpressUsbIds[] = {{0x10C4, 0xEA61}};

constexpr std::array kLinks{
    LinkRow{.keyword = "FTDI",
            .pageTitle = "USB I",
            .link = UpdateLink::Ftdi,
            .arrival = LinkArrival::UsbBus,
            .usbIds = kFtdiUsbIds,
            .busVariable = "FLASHWRIGHT_FTDI_BUS",
            .update = UpdateFtdiDevice,
            .settle = SettleFtdiDevice,
            .listDevices = ListFtdiDevices,
            .probeSlot = nullptr,
            .slotKey = nullptr,
            .takesSerialAdapters = false,
            .withoutDevices = nullptr},
    LinkRow{.keyword = "USBX",
            .pageTitle = "USB II",
            .link = UpdateLink::UsbXpress,
            .arrival = LinkArrival::UsbBus,
            .usbIds = kUsbXpressUsbIds,
            .busVariable = "FLASHWRIGHT_USBXPRESS_BUS",
            .update = UpdateUsbXpressDevice,
            .settle = SettleUsbXpressDevice,
            .listDevices = ListUsbXpressDevices,
            .probeSlot = nullptr,
            .slotKey = nullptr,
            .takesSerialAdapters = false,
            .withoutDevices = nullptr},
    LinkRow{.keyword = "COM",
            .pageTitle = "COM Port",
            .link = UpdateLink::Serial,
            .arrival = LinkArrival::FixtureSlots,
            .usbIds = {},
            .busVariable = nullptr,
            .update = UpdateSerialDevice,
            .settle = nullptr,
            .listDevices = nullptr,
            .probeSlot = ProbeSerialSlot,
            .slotKey = SerialSlotKey,
            .takesSerialAdapters = true,
            .withoutDevices = "COM needs its fixture slots (--slots LIST or @list-file) or the USB "
                              "serial adapters to take (--match VID:PID)"},
    LinkRow{.keyword = "UDP",
            .pageTitle = "Network",
            .link = UpdateLink::Network,
            .arrival = LinkArrival::FixtureSlots,
            .usbIds = {},
            .busVariable = nullptr,
            .update = UpdateNetworkDevice,
            .settle = nullptr,
            .listDevices = nullptr,
            .probeSlot = ProbeNetworkSlot,
            .slotKey = NetworkSlotKey,
            .takesSerialAdapters = false,
            .withoutDevices = "UDP needs its fixture slots: --slots LIST or @list-file"},
};

}  // namespace

std::span<const LinkRow> Links() {
    return kLinks;
}

const LinkRow* FindLink(std::string_view keyword) {
    const std::string upper = UpperCase(keyword);
    for (const LinkRow& row : kLinks) {
        if (row.keyword == upper) {
            return &row;
        }
    }
    return nullptr;
}

const LinkRow& FindLink(UpdateLink link) {
    for (const LinkRow& row : kLinks) {
        if (row.link == link) {
            return row;
        }
    }
    return kLinks.front();  // every UpdateLink has its row
}

std::string LinkKeywords() {
    std::string text;
    for (std::size_t i = 0; i < kLinks.size(); ++i) {
        text += i == 0 ? "" : i + 1 == kLinks.size() ? " or " : ", ";
        text += kLinks[i].keyword;
    }
    return text;
}
