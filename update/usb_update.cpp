#include "update/usb_update.h"

#include <array>
#include <optional>

#include "engine/link_profiles.h"
#include "update/corvane_code.h"
#include "update/device_types.h"
#include "update/exit_codes.h"

namespace {

constexpr int kTraceLevel = 4;
// Lets the window repaint after the guidance's dialogs went, before the link's pauses, which
// take no input, hold the thread for the rest of the run.
constexpr unsigned kRepaintMs = 50;
// The pause after every failed USBXpress synchronisation call: however a call fails, the
// attempts never follow one another without a break (on the desktop one that takes input).
constexpr RepeatRule kSilabsRepeat{10, true, true};
constexpr RepeatRule kFtdiRepeat{0, false};

constexpr const char* kSynchronisingCaption = "Synchronizing device";
constexpr const char* kPowerCycleText =
    "Please switch off the power supply of the device\nand wait 5 seconds. Then switch on the "
    "power supply.\nThe device will restart and activate the bootloader!";
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
    if (link.Dev_Open(index, CCommunication::kBootloaderBaud) != 0) {
        return {kExitOpenFailed, "Error: selected device is in use by an other application!"};
    }
    const SyncWait wait = Synchronise([&] { return link.Dev_SynchroniseBootloader(index); },
                                      frontEnd.sync, kFtdiRepeat, clock, observer);
    if (!wait.answered) {
        link.Dev_Close();
        return {kExitNoBootloader, frontEnd.sync.kind == SyncRule::Kind::SingleAttempt
                                       ? std::string("Error: no response from programmer!")
                                       : NoBootloaderText(wait.waitedMs)};
    }
    return CheckAndSendFile(observer,
                            {[&](const std::string& path, ProgressSink* progress) {
                                 return link.Dev_UpdateAVR(index, path, progress);
                             },
                             [&] { return link.GetBootloaderInfo(); }, [&] { link.Dev_Close(); },
                             FtdiUpdateExitCode, FtdiUpdateVerdicts()},
                            frontEnd, log);
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
    // The link's codes are the network link's, so their exit codes are too.
    return CheckAndSendFile(observer,
                            {[&](const std::string& path, ProgressSink* progress) {
                                 return link.Dev_UpdateAVR(path, progress);
                             },
                             [&] { return link.GetBootloaderInfo(); }, [&] { link.Dev_Close(); },
                             NetworkUpdateExitCode, SilabsUpdateVerdicts()},
                            frontEnd, log);
}
