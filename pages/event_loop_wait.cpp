#include "pages/event_loop_wait.h"

#include <QEventLoop>
#include <QTimer>

#include "engine/clock.h"

void EventLoopWait(unsigned ms) {
    QEventLoop loop;
    // A precise timer: the links' 1 ms pauses must not stretch to a coarse timer's slack.
    QTimer::singleShot(static_cast<int>(ms), Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

ScopedEventLoopWait::ScopedEventLoopWait() {
    SetPumpWaitHook(EventLoopWait);
}

ScopedEventLoopWait::~ScopedEventLoopWait() {
    SetPumpWaitHook({});
}
