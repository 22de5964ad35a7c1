#include "update/restart_update.h"

#include "log/text_format.h"
#include "update/exit_codes.h"

namespace {

// Pauses between two synchronisation attempts, a plain sleep on every front end.
constexpr RepeatRule kSerialRepeat{10, false};
constexpr RepeatRule kNetworkRepeat{1, false};

constexpr const char* kStartUpdateCaption = "Start Update";
constexpr const char* kRestartText =
    "Please switch of the power supply of the device\nand wait 5 seconds. Then switch on the "
    "power supply.\nThe device will restart and activate a bootloader!";

struct RestartSteps {
    std::function<int()> open;
    std::function<void()> restart;  // empty: the user restarts the device
    std::function<int()> synchronise;
    RepeatRule repeat;
    LinkUpdate send;
};

UpdateOutcome RunRestartSteps(const RestartSteps& steps, const FrontEnd& frontEnd,
                              UpdateObserver& observer, LogSink& log, Clock& clock) {
    observer.ShowState(StateKind::StartUpdate, kStartUpdateCaption, kRestartText);
    if (const int opened = steps.open(); opened != 0) {
        observer.HideState();
        return {kExitOpenFailed,
                StrPrintf("ERROR: Unable to open a connection (error %i)!", opened)};
    }
    if (steps.restart) {
        steps.restart();
    }
    LogStep(log, frontEnd, "waiting for BootLoader");
    const SyncWait wait =
        Synchronise(steps.synchronise, frontEnd.sync, steps.repeat, clock, observer);
    observer.HideState();
    if (observer.Cancelled()) {
        return {kExitNoBootloader, {}, true};
    }
    if (!wait.answered) {
        return {kExitNoBootloader, NoBootloaderText(wait.waitedMs)};
    }
    observer.Busy(true);
    LogStep(log, frontEnd, "send update");
    return CheckAndSendFile(observer, steps.send, frontEnd, log);
}

template <class Link>
LinkUpdate SendOver(Link& link, int (*exitCode)(int, bool),
                    std::span<const VerdictEntry> verdicts) {
    return {[&link](const std::string& path, ProgressSink* progress) {
                return link.UpdateAVR(path, progress);
            },
            [&link] { return link.Info(); },
            {},
            exitCode,
            verdicts};
}

}  // namespace

UpdateOutcome UpdateOverSerial(SerialLink& link, const std::string& port, unsigned baud,
                               const DeviceType* type, const FrontEnd& frontEnd,
                               UpdateObserver& observer, LogSink& log, Clock& clock) {
    RestartSteps steps{[&] { return link.Open(port, baud); },
                       {},
                       [&] { return link.SynchroniseBootloader(); },
                       kSerialRepeat,
                       SendOver(link, SerialUpdateExitCode, SerialUpdateVerdicts())};
    if (type != nullptr) {
        steps.restart = [&] { link.SendBuffer(type->restartBytes); };  // the device restarts
    }
    return RunRestartSteps(steps, frontEnd, observer, log, clock);
}

UpdateOutcome UpdateOverNetwork(NetworkLink& link, const std::string& address,
                                const DeviceType* type, const FrontEnd& frontEnd,
                                UpdateObserver& observer, LogSink& log, Clock& clock) {
    RestartSteps steps{[&] { return link.Open_Port(address); },
                       {},
                       [&] { return link.SynchroniseBootloader(); },
                       kNetworkRepeat,
                       SendOver(link, NetworkUpdateExitCode, NetworkUpdateVerdicts())};
    if (type != nullptr) {
        steps.restart = [&] { link.ResetDevice(type->restartText); };
    }
    return RunRestartSteps(steps, frontEnd, observer, log, clock);
}
