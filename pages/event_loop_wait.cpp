#include "pages/event_loop_wait.h"

#include <QEventLoop>
#include <QTimer>

#include "engine/clock.h"

namespace {

void RunEventLoop(unsigned ms, QEventLoop::ProcessEventsFlags flags) {
    QEventLoop loop;
    // A precise timer: the links' 1 ms pauses must not stretch to a coarse timer's slack.
    QTimer::singleShot(static_cast<int>(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec(flags);
}

}  // namespace

void EventLoopWait(unsigned ms) {
    RunEventLoop(ms, QEventLoop::AllEvents);
}

void NoInputEventLoopWait(unsigned ms) {
    // Input stays queued for after the run, when the page takes it again.
    RunEventLoop(ms, QEventLoop::ExcludeUserInputEvents);
}

ScopedEventLoopWait::ScopedEventLoopWait() {
    SetPumpWaitHook(EventLoopWait);
    SetQuietWaitHook(NoInputEventLoopWait);
}

ScopedEventLoopWait::~ScopedEventLoopWait() {
    SetPumpWaitHook({});
    SetQuietWaitHook({});
}
