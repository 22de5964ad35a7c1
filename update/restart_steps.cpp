#include "update/restart_steps.h"

#include "log/text_format.h"
#include "update/exit_codes.h"

namespace {

constexpr const char* kStartUpdateCaption = "Start Update";
constexpr const char* kRestartText =
    "Please switch of the power supply of the device\nand wait 5 seconds. Then switch on the "
    "power supply.\nThe device will restart and activate a bootloader!";

}  // namespace

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
