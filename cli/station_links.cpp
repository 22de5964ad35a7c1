#include "cli/station_links.h"

#include <functional>

#include "links/ftdi/communication_ftdi.h"
#include "links/usbxpress/communication_silabs.h"
#include "links/usbxpress/usbxpress_vendor.h"
#include "log/device_log.h"
#include "log/text_format.h"
#include "update/exit_codes.h"
#include "update/ftdi_update.h"
#include "update/settings.h"
#include "update/usbx_update.h"

namespace {

// How often the link's list is read while a device settles.
constexpr unsigned kSettlePollMs = 100;

// The device's place in the link's list as `find` reads it, read again until it is there or
// `settleMs` has passed; -1 when it never was.
int FindSettled(const std::function<int()>& find, unsigned settleMs, Clock& clock) {
    const std::uint64_t start = clock.NowMs();
    for (;;) {
        const int index = find();
        if (index >= 0 || clock.NowMs() - start >= settleMs) {
            return index;
        }
        clock.Sleep(kSettlePollMs);
    }
}

UpdateOutcome NotFound(const char* link, const StationDevice& device, unsigned settleMs) {
    if (settleMs == 0) {
        return {kExitOpenFailed,
                StrPrintf("ERROR: no %s device with serial number %s!", link, device.id.c_str())};
    }
    return {kExitOpenFailed,
            StrPrintf("ERROR: the %s device with serial number %s did not settle: the %s link "
                      "does not list it %u s after it arrived (no access, or its driver still "
                      "binding)!",
                      link, device.id.c_str(), link, settleMs / 1000)};
}

}  // namespace

UpdateOutcome UpdateFtdiDevice(const StationDevice& device, const FrontEnd& frontEnd,
                               UpdateObserver& observer, LogSink& log, Clock& clock,
                               unsigned settleMs) {
    DeviceLog deviceLog(log, device.id);
    CCommunication link(deviceLog, clock, MakeFtdiLibrary(), CCommunication::kEveryDevice);
    FTDI_DeviceEntry entry;
    const int index = FindSettled(
        [&] {
            if (link.Dev_UpdateDeviceList() == 0) {
                for (int i = 0; i < link.Dev_GetDeviceCount(); ++i) {
                    if (link.Dev_GetDeviceEntry(i, entry) == 0 && entry.serialNumber == device.id) {
                        return i;
                    }
                }
            }
            return -1;
        },
        settleMs, clock);
    if (index < 0) {
        return NotFound("FTDI", device, settleMs);
    }
    UpdateOutcome outcome = UpdateOverFtdi(link, index, entry.name, entry.serialNumber, frontEnd,
                                           observer, deviceLog, clock);
    if (outcome.exitCode == kExitNoSwitch) {
        outcome.verdict = "needs a replug: " + outcome.verdict;
    }
    return outcome;
}

UpdateOutcome UpdateUsbxDevice(const StationDevice& device, const FrontEnd& frontEnd,
                               UpdateObserver& observer, LogSink& log, Clock& clock,
                               unsigned settleMs) {
    DeviceLog deviceLog(log, device.id);
    CSILab_USB link(deviceLog, clock, MakeUsbXpressLibrary(ConfiguredUsbXpressLibrary()).library);
    std::string description;
    const int index = FindSettled(
        [&] {
            for (int i = 0; i < link.Dev_GetNumDevices(); ++i) {
                std::string serial;
                if (link.Dev_Get_Description(i, serial, description) == 0 && serial == device.id) {
                    return i;
                }
            }
            return -1;
        },
        settleMs, clock);
    if (index < 0) {
        return NotFound("USBXpress", device, settleMs);
    }
    UpdateOutcome outcome =
        UpdateOverUsbXpress(link, index, description, frontEnd, observer, deviceLog, clock);
    if (outcome.exitCode == kExitNoBootloader) {
        // The device did not restart into its bootloader: someone must power-cycle it.
        outcome.verdict = "needs a replug: " + outcome.verdict;
    }
    return outcome;
}
