#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "engine/clock.h"
#include "engine/device_types.h"
#include "log/log_sink.h"
#include "update/slot_probe.h"
#include "update/update_steps.h"

// A USB vendor and product id.
struct UsbId {
    std::uint16_t vendor = 0;
    std::uint16_t product = 0;
    bool operator==(const UsbId&) const = default;
};

// Four hex digits at most ("6001"); nothing when the text is not such a number.
std::optional<std::uint16_t> ParseHex16(std::string_view text);
// "VID:PID" in hex ("0403:6001"); nothing when the text is not one.
std::optional<UsbId> ParseUsbId(const std::string& text);

// How the devices of a link arrive at a station.
enum class LinkArrival {
    // USB devices named by their serial number: listed in a simulated bus folder when its
    // variable is set, else reported by udev by their USB ids.
    UsbBus,
    // Fixture slots (addresses or ports) synchronised again and again; on COM also the USB
    // serial adapters udev reports by the ids of --match.
    FixtureSlots,
};

// The devices a link finds attached, a line each (already escaped for a terminal), and what
// goes to the standard error besides: a listing that failed, or devices it leaves out.
struct DeviceListing {
    std::vector<std::string> lines;
    std::vector<std::string> notes;
    int exitCode = 0;
};

// One row per link: all that the command line, the dialog and the station do differently for
// it. Each link defines its row beside its recipe (update/<link>_update.cpp); the table lists
// them.
struct LinkRow {
    std::string_view keyword;    // the command's keyword and the station's --link, upper case
    const char* pageTitle = "";  // the dialog's tab
    UpdateLink link{};           // its device types
    LinkArrival arrival{};
    std::span<const UsbId> usbIds = {};  // UsbBus: the ids udev reports its devices by
    const char* busVariable = nullptr;   // UsbBus: the simulated bus folder's variable
    // Finds the device (by serial number, address or port) and updates it with the link's
    // recipe, without any dialog: what would need the replug guidance says it needs a replug.
    UpdateOutcome (*update)(const std::string& device, const DeviceType* type,
                            const FrontEnd& frontEnd, UpdateObserver& observer, LogSink& log,
                            Clock& clock) = nullptr;
    // UsbBus through udev: nothing once the link lists the device udev reported, within
    // `settleMs`; otherwise the outcome that it did not settle. nullptr for the others.
    std::optional<UpdateOutcome> (*settle)(const std::string& device, unsigned settleMs,
                                           Clock& clock) = nullptr;
    // The attached devices for --list-devices; nullptr for a link whose devices are not listed.
    DeviceListing (*listDevices)(LogSink& log) = nullptr;
    // FixtureSlots: how a slot is asked for its bootloader (`present`: whether a port udev
    // reported is still there), and what its name resolves to, for its lock (see
    // update/same_device.h); nullptr for the others.
    SlotProbe (*probeSlot)(const std::string& slot, LogSink& log, Clock& clock,
                           std::function<bool()> present) = nullptr;
    std::optional<std::string> (*slotKey)(const std::string& name, std::string& error) = nullptr;
    bool takesSerialAdapters = false;  // the station's --match VID:PID
    const char* withoutDevices =
        nullptr;  // FixtureSlots: the usage error without --slots (or --match)
};

std::span<const LinkRow> Links();
// The row of `keyword` (any case); nullptr for no link.
const LinkRow* FindLink(std::string_view keyword);
const LinkRow& FindLink(UpdateLink link);
// "FTDI, USBX, COM or UDP".
std::string LinkKeywords();
// The device type named `name` (any case) of a link whose devices sit in fixture slots; none
// for another link or a name the link has no type of.
const DeviceType* SlotDeviceType(const LinkRow& row, std::string_view name);

// How long a device udev has just reported may take to be listed by its link: the kernel's
// serial driver may bind to it and be detached again, access may still be being granted.
inline constexpr unsigned kDeviceSettleMs = 5000;
