#include "cli/station_links.h"

#include "links/ftdi/communication_ftdi.h"
#include "links/usbxpress/communication_silabs.h"
#include "links/usbxpress/usbxpress_vendor.h"
#include "log/device_log.h"
#include "update/exit_codes.h"
#include "update/ftdi_update.h"
#include "update/settings.h"
#include "update/usbx_update.h"

UpdateOutcome UpdateFtdiDevice(const StationDevice& device, const FrontEnd& frontEnd,
                               RecordingObserver& observer, LogSink& log, Clock& clock) {
    DeviceLog deviceLog(log, device.id);
    CCommunication link(deviceLog, clock, MakeFtdiLibrary(), CCommunication::kEveryDevice);
    link.Dev_QueryOnly(device.id);
    if (link.Dev_UpdateDeviceList() == 0) {
        for (int i = 0; i < link.Dev_GetDeviceCount(); ++i) {
            FTDI_DeviceEntry entry;
            link.Dev_GetDeviceEntry(i, entry);
            if (entry.serialNumber == device.id) {
                observer.Note([&](AttemptRecord& record) {
                    record.description = entry.name;
                    record.hardware = entry.hardware;
                    record.software = entry.software;
                });
                UpdateOutcome outcome = UpdateOverFtdi(link, i, entry.name, entry.serialNumber,
                                                       frontEnd, observer, deviceLog, clock);
                if (outcome.exitCode == kExitNoSwitch) {
                    outcome.verdict = "needs a replug: " + outcome.verdict;
                }
                return outcome;
            }
        }
    }
    return {kExitOpenFailed, "ERROR: no FTDI device with serial number " + device.id + "!"};
}

UpdateOutcome UpdateUsbxDevice(const StationDevice& device, const FrontEnd& frontEnd,
                               UpdateObserver& observer, LogSink& log, Clock& clock) {
    DeviceLog deviceLog(log, device.id);
    CSILab_USB link(deviceLog, clock, MakeUsbXpressLibrary(ConfiguredUsbXpressLibrary()).library);
    for (int i = 0; i < link.Dev_GetNumDevices(); ++i) {
        std::string serial;
        std::string description;
        if (link.Dev_Get_Description(i, serial, description) == 0 && serial == device.id) {
            UpdateOutcome outcome =
                UpdateOverUsbXpress(link, i, description, frontEnd, observer, deviceLog, clock);
            if (outcome.exitCode == kExitNoBootloader) {
                // The device did not restart into its bootloader: someone must power-cycle it.
                outcome.verdict = "needs a replug: " + outcome.verdict;
            }
            return outcome;
        }
    }
    return {kExitOpenFailed, "ERROR: no USBXpress device with serial number " + device.id + "!"};
}
