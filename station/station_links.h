#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/clock.h"
#include "engine/device_types.h"
#include "log/log_sink.h"
#include "station/station.h"
#include "station/udev_watch.h"
#include "update/update_steps.h"

// How long a device udev has just reported may take to be listed by its link: the kernel's
// serial driver may bind to it and be detached again, access may still be being granted.
inline constexpr unsigned kDeviceSettleMs = 5000;

// Nothing when the link lists a device with the serial number within `settleMs`, its list read
// again and again meanwhile; otherwise the attempt's outcome: the device did not settle.
std::optional<UpdateOutcome> SettleFtdiDevice(const StationDevice& device, unsigned settleMs,
                                              Clock& clock);
std::optional<UpdateOutcome> SettleUsbXpressDevice(const StationDevice& device, unsigned settleMs,
                                              Clock& clock);

// How the devices of a link arrive at a station.
enum class StationArrival {
    // USB devices named by their serial number: listed in a simulated bus folder when its
    // variable is set, else reported by udev by their USB ids.
    UsbBus,
    // Fixture slots (addresses or ports) synchronised again and again; on COM also the USB
    // serial adapters udev reports by the ids of --match.
    FixtureSlots,
};

// One row per link the station serves: all it does differently for that link.
struct StationLinkRow {
    std::string_view keyword;  // as --link takes it, upper case
    UpdateLink link;           // its device types
    StationArrival arrival;
    std::span<const UsbId> usbIds;  // UsbBus: the ids udev reports its devices by
    const char* busVariable;        // UsbBus: the simulated bus folder's variable
    // Finds the device (by serial number, address or port) and updates it with the link's recipe.
    UpdateOutcome (*update)(const StationDevice& device, const DeviceType* type,
                            const FrontEnd& frontEnd, RecordingObserver& observer, LogSink& log,
                            Clock& clock);
    // UsbBus through udev: waits until the link lists the device udev reported; else nullptr.
    std::optional<UpdateOutcome> (*settle)(const StationDevice& device, unsigned settleMs,
                                           Clock& clock);
    // FixtureSlots: a slot's lock key from what it resolves to, and its service until the
    // station stops taking devices or `present` no longer holds.
    std::string (*slotLock)(const std::string& resolved);
    void (*serveSlot)(Station& station, StationView& view, const std::string& slot, LogSink& log,
                      Clock& clock, std::function<bool()> present);
    bool takesSerialAdapters;    // --match VID:PID
    const char* withoutDevices;  // FixtureSlots: the usage error without --slots (or --match)
};

std::span<const StationLinkRow> StationLinks();
// The row of `keyword` (upper case); nullptr when the station serves no such link.
const StationLinkRow* FindStationLink(std::string_view keyword);
// "FTDI, USBX, COM or UDP".
std::string StationLinkKeywords();
