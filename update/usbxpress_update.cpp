#include "update/usbxpress_update.h"

#include <array>

#include "engine/device_types.h"
#include "links/usbxpress/usbxpress_vendor.h"
#include "log/device_log.h"
#include "log/escaped_text.h"
#include "log/text_format.h"
#include "update/exit_codes.h"
#include "update/settings.h"
#include "update/settle_device.h"

namespace {

// The pause after every failed USBXpress synchronisation call: however a call fails, the
// attempts never follow one another without a break (on the desktop one that takes input).
constexpr RepeatRule kSilabsRepeat{10, true, true};

constexpr const char* kSynchronisingCaption = "Synchronizing device";
constexpr const char* kPowerCycleText =
    "Please switch off the power supply of the device\nand wait 5 seconds. Then switch on the "
    "power supply.\nThe device will restart and activate the bootloader!";

// The link's codes are the network link's, so their exit codes are too; the texts are its own.
constexpr std::array<ResultMeaning, 9> kSilabsResults{{
    {-1, std::nullopt, "internal Error: No connection to target device!"},
    {-2, kExitFileTooShort, "Error: Can not open update file!"},
    {-3, kExitFileMalformed, "Error: Wrong length of update file!"},
    {-4, std::nullopt, "Error: not enough memory for this operation!"},
    {-5, kExitFileUnreadable, "Error: Can not read update file!"},
    {-6, kExitFileMalformed, "Error: Wrong Format in update file!"},
    {-7, std::nullopt, "internal Error: Can not send data to the target device!"},
    {-8, kExitTooManyErrors, "Error: No or wrong response from target device!"},
    {-99, kExitNotReady, "Error: BootLoader is hanging!"},
}};

}  // namespace

std::span<const ResultMeaning> SilabsResults() {
    return kSilabsResults;
}

UpdateOutcome UpdateOverUsbXpress(CSILab_USB& link, int index, const std::string& description,
                                  const FrontEnd& frontEnd, UpdateObserver& observer, LogSink& log,
                                  Clock& clock) {
    if (const DeviceType* type = FindDeviceType(UpdateLink::UsbXpress, description)) {
        // The device's application starts its firmware update; it sends no answer.
        link.Dev_Open(index, CSILab_USB::kBaud);
        observer.Busy(true);
        link.Send_XML_Cmd(CSILab_USB::kXmlCommand, type->restartText);
        observer.Busy(false);
    }
    if (link.Dev_Open(index, CSILab_USB::kBaud) != 0) {
        return {kExitOpenFailed,
                "Unable to open a connection to the device!\nPlease check all cable.", false, true};
    }
    observer.ShowState(StateKind::Synchronizing, kSynchronisingCaption, kPowerCycleText);
    const SyncWait wait = Synchronise([&] { return link.Dev_SynchroniseBootloader(); },
                                      frontEnd.sync, kSilabsRepeat, clock, observer);
    observer.HideState();
    if (observer.Cancelled()) {
        return {kExitNoBootloader, {}, true};  // the link stays open until the next open
    }
    if (!wait.answered) {
        link.Dev_Close();
        return {kExitNoBootloader, NoBootloaderText(wait.waitedMs)};
    }
    observer.Busy(true);
    return CheckAndSendFile(
        observer,
        {[&](const std::string& path, ProgressSink* progress) {
             return link.Dev_UpdateAVR(path, progress);
         },
         [&] { return link.GetBootloaderInfo(); }, [&] { link.Dev_Close(); }, SilabsResults()},
        frontEnd, log);
}

UpdateOutcome UpdateUsbXpressBySerial(CSILab_USB& link, const std::string& serial,
                                      const std::string& description, const FrontEnd& frontEnd,
                                      UpdateObserver& observer, LogSink& log, Clock& clock,
                                      const UsbXpressDeviceFound& found) {
    const int count = link.Dev_GetNumDevices();
    for (int index = 0; index < count; ++index) {
        std::string listedSerial;
        std::string listedDescription;
        if (link.Dev_Get_Description(index, listedSerial, listedDescription) == 0 &&
            listedSerial == serial && (description.empty() || listedDescription == description)) {
            if (found) {
                found(listedDescription);
            }
            return UpdateOverUsbXpress(link, index, listedDescription, frontEnd, observer, log,
                                       clock);
        }
    }
    return {kExitOpenFailed, "ERROR: no USBXpress device with serial number " + serial + "!"};
}

namespace {

// The USBXpress devices (vendor 0x10C4, product 0xEA61), as the udev rules list them.
constexpr UsbId kUsbXpressUsbIds[] = {{0x10C4, 0xEA61}};

UpdateOutcome UpdateUsbXpressDevice(const std::string& serial, const DeviceType* /*type*/,
                                    const FrontEnd& frontEnd, UpdateObserver& observer,
                                    LogSink& log, Clock& clock) {
    DeviceLog deviceLog(log, serial);
    CSILab_USB link(deviceLog, clock, MakeUsbXpressLibrary(ConfiguredUsbXpressLibrary()).library);
    UpdateOutcome outcome =
        UpdateUsbXpressBySerial(link, serial, {}, frontEnd, observer, deviceLog, clock);
    // The device did not restart into its bootloader: someone must power-cycle it.
    outcome.needsReplug = outcome.exitCode == kExitNoBootloader;
    return outcome;
}

std::optional<UpdateOutcome> SettleUsbXpressDevice(const std::string& serial, unsigned settleMs,
                                                   Clock& clock) {
    const UsbXpressChoice choice = MakeUsbXpressLibrary(ConfiguredUsbXpressLibrary());
    if (!choice.unavailable.empty()) {
        return std::nullopt;  // no device can be reached: the update says why
    }
    const SerialNumberList list{
        [&](std::uint32_t& count) { return choice.library->GetNumDevices(count) == kSiSuccess; },
        [&](std::uint32_t i, std::string& found) {
            std::array<char, kSiMaxDeviceStrlen> text{};
            const bool read =
                choice.library->GetProductString(i, text, kSiReturnSerialNumber) == kSiSuccess;
            found = text.data();
            return read;
        }};
    return SettleDevice(list, "USBXpress", serial, settleMs, clock);
}

DeviceListing ListUsbXpressDevices(LogSink& log) {
    DeviceListing listing;
    UsbXpressChoice choice = MakeUsbXpressLibrary(ConfiguredUsbXpressLibrary());
    if (!choice.unavailable.empty()) {
        listing.notes.push_back("no USBXpress devices: " + choice.unavailable);
        return listing;
    }
    CSILab_USB link(log, DefaultClock(), std::move(choice.library));
    const int count = link.Dev_GetNumDevices();
    for (int i = 0; i < count; ++i) {
        std::string serial;
        std::string description;
        if (link.Dev_Get_Description(i, serial, description) == 0) {
            listing.lines.push_back(StrPrintf("USBX  %d  %s  %s", i,
                                              EscapedText(description).c_str(),
                                              EscapedText(serial).c_str()));
        } else {
            listing.lines.push_back(StrPrintf("USBX  %d  (its description cannot be read)", i));
        }
    }
    return listing;
}

}  // namespace

constinit const LinkRow kUsbXpressLink{.keyword = "USBX",
                                       .pageTitle = "USB II",
                                       .link = UpdateLink::UsbXpress,
                                       .arrival = LinkArrival::UsbBus,
                                       .usbIds = kUsbXpressUsbIds,
                                       .busVariable = "FLASHWRIGHT_USBXPRESS_BUS",
                                       .update = UpdateUsbXpressDevice,
                                       .settle = SettleUsbXpressDevice,
                                       .listDevices = ListUsbXpressDevices};
