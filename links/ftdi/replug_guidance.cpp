#include "links/ftdi/replug_guidance.h"

#include <string>

#include "engine/link_profiles.h"
#include "log/escaped_text.h"
#include "log/text_format.h"

namespace {

constexpr int F = kSourceFtdi;
constexpr int kTrace = 4;
constexpr unsigned kLookPauseMs = 10;

// Waits with dispatched events until the device's presence is `present`; false when the user
// cancelled. Cancel is looked at before every look and after the look that ends the wait.
bool WaitForPresence(Clock& clock, ReplugPrompt& prompt, const std::function<int()>& find,
                     bool present, int& index) {
    for (;;) {
        if (prompt.Cancelled()) {
            return false;
        }
        index = find();
        if ((index >= 0) == present) {
            return !prompt.Cancelled();
        }
        clock.PumpWait(kLookPauseMs);
    }
}

}  // namespace

int GuideReplug(LogSink& log, Clock& clock, ReplugPrompt& prompt, std::string_view name,
                std::string_view serialNumber, const std::function<int()>& find) {
    const std::string device(name);
    Logf(log, kTrace, F, "Dev_RebootTargetDevice(%s, %s)", EscapedText(device).c_str(),
         EscapedText(serialNumber).c_str());
    if (find() < 0) {
        log.Log(kTrace, "~Dev_RebootTargetDevice() - no device found", F);
        prompt.InternalError("Internal Error (Reboot_Target_Device pos2)");
        prompt.Hide();
        return -1;
    }
    const auto cancelled = [&] {
        log.Log(kTrace, "~Dev_RebootTargetDevice() - cancel", F);
        prompt.Hide();
        return -99;
    };
    int index = -1;
    prompt.Show("Request",
                StrPrintf("Please remove the USB cable from the %s\nand power down the device.",
                          device.c_str()));
    if (!WaitForPresence(clock, prompt, find, false, index)) {
        return cancelled();
    }
    log.Log(kTrace, "Dev_RebootTargetDevice() - device removed", F);
    prompt.Show("Request",
                StrPrintf("Please reconnect the USB cable to the %s\nand power up the device.",
                          device.c_str()));
    if (!WaitForPresence(clock, prompt, find, true, index)) {
        return cancelled();
    }
    Logf(log, kTrace, F, "Dev_RebootTargetDevice() - device reconnected (index %i)", index);
    log.Log(kTrace, "~Dev_RebootTargetDevice() - done", F);
    prompt.Hide();
    return index;
}
