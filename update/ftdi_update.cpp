#include "update/ftdi_update.h"

#include <array>
#include <optional>

#include "engine/device_types.h"
#include "engine/link_profiles.h"
#include "update/corvane_code.h"
#include "update/exit_codes.h"

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
