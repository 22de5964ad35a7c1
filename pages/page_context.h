#pragma once

#include <QPointer>
#include <QWidget>
#include <functional>
#include <utility>
#include <vector>

#include "engine/clock.h"
#include "log/log_sink.h"
#include "pages/ui_services.h"

class C_Debug_Log;

// What the hidden "Debug" box switches: the four log outputs, all on or all off.
struct DebugSwitch {
    std::function<bool()> isOn;  // the text file output's state
    std::function<void(bool)> setAll;
};

DebugSwitch DebugSwitchFor(C_Debug_Log& log);

// What the application hands to every page: the log, the desktop services, the clock of
// the pauses between attempts, and the one flag that keeps a second programming run from
// starting while a run is under way anywhere in the program.
struct PageContext {
    PageContext(LogSink& logSink, DebugSwitch debugSwitch, UiServices& services, Clock& waits)
        : log(logSink), debug(std::move(debugSwitch)), ui(services), clock(waits) {}

    LogSink& log;
    DebugSwitch debug;
    UiServices& ui;
    Clock& clock;
    bool runInProgress = false;
    // Controls outside the pages that a run holds disabled as well: the tab bar, so that no
    // other page's dialog can open inside a run's waits and stall its transfer.
    std::vector<QPointer<QWidget>> heldDuringRuns;
};
