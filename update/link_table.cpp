#include "update/link_table.h"

#include <array>
#include <charconv>

#include "log/text_format.h"
#include "update/ftdi_update.h"
#include "update/network_update.h"
#include "update/serial_update.h"
#include "update/usbxpress_update.h"

namespace {

// The rows, each defined beside its link's recipe, in the order of LinkKeywords().
const std::array<LinkRow, 4>& Rows() {
    static const std::array kLinks{kFtdiLink, kUsbXpressLink, kSerialLink, kNetworkLink};
    return kLinks;
}

}  // namespace

std::span<const LinkRow> Links() {
    return Rows();
}

const LinkRow* FindLink(std::string_view keyword) {
    const std::string upper = UpperCase(keyword);
    for (const LinkRow& row : Rows()) {
        if (row.keyword == upper) {
            return &row;
        }
    }
    return nullptr;
}

const LinkRow& FindLink(UpdateLink link) {
    for (const LinkRow& row : Rows()) {
        if (row.link == link) {
            return row;
        }
    }
    return Rows().front();  // every UpdateLink has its row
}

const DeviceType* SlotDeviceType(const LinkRow& row, std::string_view name) {
    if (row.arrival != LinkArrival::FixtureSlots) {
        return nullptr;
    }
    const std::string upper = UpperCase(name);
    for (const DeviceType& type : DeviceTypes()) {
        if (type.link == row.link && UpperCase(type.name) == upper) {
            return &type;
        }
    }
    return nullptr;
}

std::string LinkKeywords() {
    std::string text;
    const auto& rows = Rows();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        text += i == 0 ? "" : i + 1 == rows.size() ? " or " : ", ";
        text += rows[i].keyword;
    }
    return text;
}

std::optional<std::uint16_t> ParseHex16(std::string_view text) {
    std::uint16_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || text.size() > 4 || error != std::errc() ||
        end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<UsbId> ParseUsbId(const std::string& text) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos) {
        return std::nullopt;
    }
    const std::optional<std::uint16_t> vendor = ParseHex16(std::string_view(text).substr(0, colon));
    const std::optional<std::uint16_t> product =
        ParseHex16(std::string_view(text).substr(colon + 1));
    if (!vendor || !product) {
        return std::nullopt;
    }
    return UsbId{*vendor, *product};
}
