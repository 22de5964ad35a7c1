// flashwright: the update tool. A command keyword runs the windowless update; otherwise the
// desktop dialog opens.

#include <sys/prctl.h>

#include <cstdlib>

#include "app/flashwright_app.h"
#include "cli/debug_log_switch.h"
#include "stationwindow/station_window_front_end.h"

namespace {

// The protocol paces every frame with waits of 10 ms and 1 ms. The kernel may let each sleep
// run late by the thread's timer slack (50 us by default), which over thousands of waits adds
// up to a noticeably slower update; ask for precise wake-ups instead.
void AskForPreciseSleeps() {
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
}

}  // namespace

int main(int argc, char** argv) {
    AskForPreciseSleeps();
    CFlashwrightApp app(argc, argv);
    InstallStationWindow(argc, argv);  // the station's --window
    ApplyDebugLogSwitch(app.Log(), std::getenv("FLASHWRIGHT_DEBUG_LOG"));
    app.InitInstance();
    return app.ExitInstance();
}
