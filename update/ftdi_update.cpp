#include "update/ftdi_update.h"

#include <array>
#include <optional>

#include "engine/device_types.h"
#include "engine/link_profiles.h"
#include "log/device_log.h"
#include "log/escaped_text.h"
#include "log/text_format.h"
#include "update/corvane_code.h"
#include "update/exit_codes.h"
#include "update/settle_device.h"

namespace {

constexpr int kTraceLevel = 4;
// Lets the window repaint after the guidance's dialogs went, before the link's pauses, which
// take no input, hold the thread for the rest of the run.
constexpr unsigned kRepaintMs = 50;
constexpr RepeatRule kFtdiRepeat{0, false};

// With the device already open, the link's -5 can only be a malformed frame.
constexpr std::array<ResultMeaning, 6> kFtdiResults{{
    {-99, kExitNotReady, "Error: BootLoader is hanging!"},
    {-7, kExitTooManyErrors, "Error: No or wrong response from target device!"},
    {-2, kExitFileMalformed},   // odd size
    {-5, kExitFileMalformed},   // malformed frame
    {-4, kExitFileUnreadable},  // reading the file failed
    {-1, kExitFileTooShort},    // the link could not open the file
}};

constexpr const char* kIncorrectResponse = "Error: incorrect response from device!";
constexpr const char* kContinueQuestion =
    "Error: incorrect response from device!\nIf you want to continue, press 'OK'.";

void LogNamed(LogSink& log, const FrontEnd& frontEnd, const std::string& text) {
    log.Log(kTraceLevel, std::string(frontEnd.logName) + " - " + text, kSourcePages);
}

// Tells the device to restart in its bootloader, and guides the user through restarting it
// by hand when it did not answer that it does. Nothing when the update goes on; `index` is
// then the device's place in the list.
std::optional<UpdateOutcome> RestartFtdiDevice(CCommunication& link, const DeviceType& type,
                                               const std::string& name, const std::string& serial,
                                               int& index, const FrontEnd& frontEnd,
                                               UpdateObserver& observer, LogSink& log,
                                               Clock& clock) {
    const CorvaneCodeSetting setting = ConfiguredCorvaneCode();
    bool switched = false;
    if (setting.code) {
        observer.Busy(true);
        std::array<std::uint8_t, 64> answer{};
        int length = static_cast<int>(answer.size());
        const int r = link.Send_Corvane_CMD(index, type.restartCommand, *setting.code,
                                            answer.data(), &length);
        observer.Busy(false);
        switched = r == 0 && length == 2 && answer[0] == 0x01 && answer[1] == 0x00;
    } else {
        LogNamed(log, frontEnd, setting.source);
    }
    if (switched) {
        LogNamed(log, frontEnd, "Corvane switched in BootLoader mode");
        return std::nullopt;
    }
    const std::string why = setting.code ? kIncorrectResponse : "Error: " + setting.source + "!";
    if (!observer.CanGuideReplug()) {
        return UpdateOutcome{kExitNoSwitch, why};
    }
    if (!frontEnd.asksBeforeReplug) {
        observer.Acknowledge(why);
    } else {
        // Without its code the device cannot be told anything; say why before asking.
        if (!setting.code) {
            observer.Acknowledge(why);
        }
        if (!observer.Confirm(kContinueQuestion)) {
            return UpdateOutcome{kExitNoSwitch, why, true};
        }
    }
    const int rebooted = observer.GuideReplug(
        [&](ReplugPrompt& prompt) { return link.Dev_RebootTargetDevice(name, serial, prompt); });
    if (rebooted < 0) {
        // A front end that asked has shown the guidance end already.
        return UpdateOutcome{kExitNoSwitch, "Error: the device did not restart in its bootloader!",
                             frontEnd.asksBeforeReplug};
    }
    index = rebooted;
    if (observer.DispatchesEvents()) {
        clock.PumpWait(kRepaintMs);
    }
    return std::nullopt;
}

}  // namespace

std::span<const ResultMeaning> FtdiResults() {
    return kFtdiResults;
}

UpdateOutcome UpdateOverFtdi(CCommunication& link, int index, const std::string& name,
                             const std::string& serial, const FrontEnd& frontEnd,
                             UpdateObserver& observer, LogSink& log, Clock& clock) {
    if (const DeviceType* type = FindDeviceType(UpdateLink::Ftdi, name)) {
        if (std::optional<UpdateOutcome> ended = RestartFtdiDevice(
                link, *type, name, serial, index, frontEnd, observer, log, clock)) {
            return *ended;
        }
    } else {
        LogStep(log, frontEnd, "unknown device type (" + name + ")");
    }
    observer.Busy(true);
    LogStep(log, frontEnd, "waiting for BootLoader");
    if (const int opened = link.Dev_Open(index, CCommunication::kBootloaderBaud); opened != 0) {
        // A bus file naming a regular file or a pipe as the port is a mistake in that file:
        // nothing else holds the device.
        return {kExitOpenFailed, opened == CCommunication::kOpenNotATerminal
                                     ? "Error: the port of the selected device is not a terminal!"
                                     : "Error: selected device is in use by an other application!"};
    }
    const SyncWait wait = Synchronise([&] { return link.Dev_SynchroniseBootloader(index); },
                                      frontEnd.sync, kFtdiRepeat, clock, observer);
    if (!wait.answered) {
        link.Dev_Close();
        return {kExitNoBootloader, frontEnd.sync.kind == SyncRule::Kind::SingleAttempt
                                       ? std::string("Error: no response from programmer!")
                                       : NoBootloaderText(wait.waitedMs)};
    }
    return CheckAndSendFile(
        observer,
        {[&](const std::string& path, ProgressSink* progress) {
             return link.Dev_UpdateAVR(index, path, progress);
         },
         [&] { return link.GetBootloaderInfo(); }, [&] { link.Dev_Close(); }, FtdiResults()},
        frontEnd, log);
}

UpdateOutcome UpdateFtdiBySerial(CCommunication& link, const std::string& serial,
                                 const std::string& name, const FrontEnd& frontEnd,
                                 UpdateObserver& observer, LogSink& log, Clock& clock,
                                 const FtdiDeviceFound& found) {
    if (link.Dev_UpdateDeviceList() == 0) {
        for (int index = 0; index < link.Dev_GetDeviceCount(); ++index) {
            FTDI_DeviceEntry entry;
            link.Dev_GetDeviceEntry(index, entry);
            if (entry.serialNumber == serial && (name.empty() || entry.name == name)) {
                if (found) {
                    found(entry);
                }
                return UpdateOverFtdi(link, index, entry.name, entry.serialNumber, frontEnd,
                                      observer, log, clock);
            }
        }
    }
    return {kExitOpenFailed, "ERROR: no FTDI device with serial number " + serial + "!"};
}

namespace {

// The FTDI chips the FTDI link finds and the udev rules give access to (vendor 0x0403).
constexpr UsbId kFtdiUsbIds[] = {
    {0x0403, 0x6001}, {0x0403, 0x6010}, {0x0403, 0x6011}, {0x0403, 0x6014}, {0x0403, 0x6015}};

UpdateOutcome UpdateFtdiDevice(const std::string& serial, const DeviceType* /*type*/,
                               const FrontEnd& frontEnd, UpdateObserver& observer, LogSink& log,
                               Clock& clock) {
    DeviceLog deviceLog(log, serial);
    CCommunication link(deviceLog, clock, MakeFtdiLibrary(), CCommunication::kEveryDevice);
    link.Dev_QueryOnly(serial);
    bool codeConfigured = false;
    const auto found = [&](const FTDI_DeviceEntry& entry) {
        observer.DeviceFound(entry.name, entry.hardware, entry.software);
        // Without a usable enter-bootloader code the device was never told to switch: a
        // settings error that no replug fixes, so it keeps the single command's text.
        codeConfigured = ConfiguredCorvaneCode().code.has_value();
    };
    UpdateOutcome outcome =
        UpdateFtdiBySerial(link, serial, {}, frontEnd, observer, deviceLog, clock, found);
    // Where it would need the replug guidance, which this update does not give, it needs a
    // replug; a Corvane device without a usable code configured does not, as a replug cannot
    // help.
    outcome.needsReplug = outcome.exitCode == kExitNoSwitch && codeConfigured;
    return outcome;
}

std::optional<UpdateOutcome> SettleFtdiDevice(const std::string& serial, unsigned settleMs,
                                              Clock& clock) {
    // The driver library alone: listing through the link would query known devices.
    const std::unique_ptr<FtdiLibrary> library = MakeFtdiLibrary();
    const SerialNumberList list{
        [&](std::uint32_t& count) { return library->CountDevices(count) == kFtdiOk; },
        [&](std::uint32_t i, std::string& found) {
            std::array<char, 64> text{};
            const bool read = library->SerialNumberByIndex(i, text) == kFtdiOk;
            found = text.data();
            return read;
        }};
    return SettleDevice(list, "FTDI", serial, settleMs, clock);
}

DeviceListing ListFtdiDevices(LogSink& log) {
    DeviceListing listing;
    CCommunication link(log, DefaultClock(), MakeFtdiLibrary(), CCommunication::kEveryDevice);
    if (link.Dev_UpdateDeviceList() != 0) {
        listing.notes.emplace_back("the FTDI devices cannot be listed");
        listing.exitCode = kExitOpenFailed;
        return listing;
    }
    for (int i = 0; i < link.Dev_GetDeviceCount(); ++i) {
        FTDI_DeviceEntry e;
        link.Dev_GetDeviceEntry(i, e);
        if (e.name.empty() && e.serialNumber.empty()) {
            // The library sees the chip but may not read its strings: no access to it.
            listing.lines.push_back(
                StrPrintf("FTDI  %d  (no access: install the udev rule, see the README)", i));
            continue;
        }
        std::string line = StrPrintf("FTDI  %d  %s  %s", i, EscapedText(e.name).c_str(),
                                     EscapedText(e.serialNumber).c_str());
        if (!e.hardware.empty() || !e.software.empty()) {
            line += StrPrintf("  hardware %s  software %s", EscapedText(e.hardware).c_str(),
                              EscapedText(e.software).c_str());
        }
        listing.lines.push_back(std::move(line));
    }
    const int count = link.Dev_GetDeviceCount();
    if (count > CCommunication::kMaxDevices) {
        listing.notes.push_back(StrPrintf(
            "%d FTDI devices attached: the USB I page shows the first %d, not the other %d", count,
            CCommunication::kMaxDevices, count - CCommunication::kMaxDevices));
    }
    return listing;
}

}  // namespace

constinit const LinkRow kFtdiLink{.keyword = "FTDI",
                                  .pageTitle = "USB I",
                                  .link = UpdateLink::Ftdi,
                                  .arrival = LinkArrival::UsbBus,
                                  .usbIds = kFtdiUsbIds,
                                  .busVariable = "FLASHWRIGHT_FTDI_BUS",
                                  .update = UpdateFtdiDevice,
                                  .settle = SettleFtdiDevice,
                                  .listDevices = ListFtdiDevices};
