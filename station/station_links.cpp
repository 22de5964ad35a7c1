#include "station/station_links.h"

#include <array>
#include <functional>

#include "links/ftdi/communication_ftdi.h"
#include "links/usbxpress/communication_silabs.h"
#include "links/usbxpress/usbxpress_vendor.h"
#include "log/device_log.h"
#include "log/text_format.h"
#include "station/fixture_slot.h"
#include "station/station_lock.h"
#include "update/corvane_code.h"
#include "update/exit_codes.h"
#include "update/ftdi_update.h"
#include "update/serial_update.h"
#include "update/settings.h"
#include "update/network_update.h"
#include "update/usbxpress_update.h"

namespace {

// How often the link's list is read while a device settles.
constexpr unsigned kSettlePollMs = 100;

// Waits until `listed` holds, for `settleMs` at most.
std::optional<UpdateOutcome> Settle(const std::function<bool()>& listed, const char* link,
                                    const StationDevice& device, unsigned settleMs, Clock& clock) {
    const std::uint64_t start = clock.NowMs();
    while (!listed()) {
        if (clock.NowMs() - start >= settleMs) {
            return UpdateOutcome{
                kExitOpenFailed,
                StrPrintf("ERROR: the %s device with serial number %s did not settle: its link "
                          "does not list it %u s after it arrived (no access, or its driver is "
                          "still binding)!",
                          link, device.id.c_str(), settleMs / 1000)};
        }
        clock.Sleep(kSettlePollMs);
    }
    return std::nullopt;
}

}  // namespace

std::optional<UpdateOutcome> SettleFtdiDevice(const StationDevice& device, unsigned settleMs,
                                              Clock& clock) {
    // The driver library alone: listing through the link would query known devices.
    const std::unique_ptr<FtdiLibrary> library = MakeFtdiLibrary();
    const auto listed = [&] {
        std::uint32_t count = 0;
        std::array<char, 64> serial{};
        for (std::uint32_t i = 0; library->CountDevices(count) == kFtdiOk && i < count; ++i) {
            if (library->SerialNumberByIndex(i, serial) == kFtdiOk && device.id == serial.data()) {
                return true;
            }
        }
        return false;
    };
    return Settle(listed, "FTDI", device, settleMs, clock);
}

std::optional<UpdateOutcome> SettleUsbXpressDevice(const StationDevice& device, unsigned settleMs,
                                              Clock& clock) {
    const UsbXpressChoice choice = MakeUsbXpressLibrary(ConfiguredUsbXpressLibrary());
    if (!choice.unavailable.empty()) {
        return std::nullopt;  // no device can be reached: the update says why
    }
    const auto listed = [&] {
        std::uint32_t count = 0;
        std::array<char, kSiMaxDeviceStrlen> serial{};
        for (std::uint32_t i = 0; choice.library->GetNumDevices(count) == kSiSuccess && i < count;
             ++i) {
            if (choice.library->GetProductString(i, serial, kSiReturnSerialNumber) == kSiSuccess &&
                device.id == serial.data()) {
                return true;
            }
        }
        return false;
    };
    return Settle(listed, "USBXpress", device, settleMs, clock);
}

namespace {

// The serial slots' line speed, the serial command's default.
constexpr unsigned kStationBaud = 115200;

// The device's update found by its serial number. Where it would need the replug guidance,
// which a station does not give, the outcome says that it needs a replug; a Corvane device
// without a usable enter-bootloader code configured does not, as a replug cannot help. Its name
// and a Corvane device's version texts go into its record.
UpdateOutcome UpdateFtdiRow(const StationDevice& device, const DeviceType* /*type*/,
                            const FrontEnd& frontEnd, RecordingObserver& observer, LogSink& log,
                            Clock& clock) {
    DeviceLog deviceLog(log, device.id);
    CCommunication link(deviceLog, clock, MakeFtdiLibrary(), CCommunication::kEveryDevice);
    link.Dev_QueryOnly(device.id);
    bool codeConfigured = false;
    const auto found = [&](const FTDI_DeviceEntry& entry) {
        observer.Note([&](AttemptRecord& record) {
            record.description = entry.name;
            record.hardware = entry.hardware;
            record.software = entry.software;
        });
        // Without a usable enter-bootloader code the device was never told to switch: a
        // settings error that no replug fixes, so it keeps the single command's text.
        codeConfigured = ConfiguredCorvaneCode().code.has_value();
    };
    UpdateOutcome outcome =
        UpdateFtdiBySerial(link, device.id, {}, frontEnd, observer, deviceLog, clock, found);
    outcome.needsReplug = outcome.exitCode == kExitNoSwitch && codeConfigured;
    return outcome;
}

UpdateOutcome UpdateUsbXpressRow(const StationDevice& device, const DeviceType* /*type*/,
                            const FrontEnd& frontEnd, RecordingObserver& observer, LogSink& log,
                            Clock& clock) {
    DeviceLog deviceLog(log, device.id);
    CSILab_USB link(deviceLog, clock, MakeUsbXpressLibrary(ConfiguredUsbXpressLibrary()).library);
    UpdateOutcome outcome =
        UpdateUsbXpressBySerial(link, device.id, {}, frontEnd, observer, deviceLog, clock);
    // The device did not restart into its bootloader: someone must power-cycle it.
    outcome.needsReplug = outcome.exitCode == kExitNoBootloader;
    return outcome;
}

UpdateOutcome UpdateSerialSlot(const StationDevice& device, const DeviceType* type,
                               const FrontEnd& frontEnd, RecordingObserver& observer, LogSink& log,
                               Clock& clock) {
    DeviceLog deviceLog(log, device.id);
    const std::unique_ptr<SerialLink> serial = MakeSerialLink(deviceLog, clock);
    return UpdateOverSerial(*serial, device.id, kStationBaud, type, frontEnd, observer, deviceLog,
                            clock);
}

UpdateOutcome UpdateNetworkSlot(const StationDevice& device, const DeviceType* type,
                                const FrontEnd& frontEnd, RecordingObserver& observer, LogSink& log,
                                Clock& clock) {
    DeviceLog deviceLog(log, device.id);
    const std::unique_ptr<NetworkLink> network = MakeNetworkLink(deviceLog, clock);
    return UpdateOverNetwork(*network, device.id, type, frontEnd, observer, deviceLog, clock);
}

std::string SerialSlotLock(const std::string& resolved) {
    return "com-" + HashedLockKey(resolved);
}

std::string NetworkSlotLock(const std::string& resolved) {
    return "udp-" + resolved;
}

void ServeSerialSlot(Station& station, StationView& view, const std::string& slot, LogSink& log,
                     Clock& clock, std::function<bool()> present) {
    ServeComSlot(
        station, view, slot, kStationBaud, [&] { return MakeSerialLink(log, clock); }, clock,
        std::move(present));
}

void ServeNetworkSlot(Station& station, StationView& view, const std::string& slot, LogSink& log,
                      Clock& clock, std::function<bool()> /*present*/) {
    ServeNetworkSlot(
        station, view, slot, [&] { return MakeNetworkLink(log, clock); }, clock);
}

constexpr std::array kStationLinks{
    StationLinkRow{"FTDI", UpdateLink::Ftdi, StationArrival::UsbBus, kFtdiUsbIds,
                   "FLASHWRIGHT_FTDI_BUS", UpdateFtdiRow, SettleFtdiDevice, nullptr, nullptr, false,
                   nullptr},
    StationLinkRow{"USBX", UpdateLink::UsbXpress, StationArrival::UsbBus, kUsbXpressUsbIds,
                   "FLASHWRIGHT_USBXPRESS_BUS", UpdateUsbXpressRow, SettleUsbXpressDevice, nullptr, nullptr,
                   false, nullptr},
    StationLinkRow{"COM",
                   UpdateLink::Serial,
                   StationArrival::FixtureSlots,
                   {},
                   nullptr,
                   UpdateSerialSlot,
                   nullptr,
                   SerialSlotLock,
                   ServeSerialSlot,
                   true,
                   "COM needs its fixture slots (--slots LIST or @list-file) or the USB serial "
                   "adapters to take (--match VID:PID)"},
    StationLinkRow{"UDP",
                   UpdateLink::Network,
                   StationArrival::FixtureSlots,
                   {},
                   nullptr,
                   UpdateNetworkSlot,
                   nullptr,
                   NetworkSlotLock,
                   ServeNetworkSlot,
                   false,
                   "UDP needs its fixture slots: --slots LIST or @list-file"},
};

}  // namespace

std::span<const StationLinkRow> StationLinks() {
    return kStationLinks;
}

const StationLinkRow* FindStationLink(std::string_view keyword) {
    for (const StationLinkRow& row : kStationLinks) {
        if (row.keyword == keyword) {
            return &row;
        }
    }
    return nullptr;
}

std::string StationLinkKeywords() {
    std::string text;
    for (std::size_t i = 0; i < kStationLinks.size(); ++i) {
        text += i == 0 ? "" : i + 1 == kStationLinks.size() ? " or " : ", ";
        text += kStationLinks[i].keyword;
    }
    return text;
}
