#pragma once

// While it lives, PumpWait runs a nested event loop until its deadline, so windows stay
// alive and clicks are dispatched during the links' waits; it blocks on events instead of
// spinning. QuietWait does the same but leaves user input queued: windows repaint and answer
// the desktop, and no click is taken. The plain sleeps come back when it ends.
class ScopedEventLoopWait {
  public:
    ScopedEventLoopWait();
    ~ScopedEventLoopWait();
    ScopedEventLoopWait(const ScopedEventLoopWait&) = delete;
    ScopedEventLoopWait& operator=(const ScopedEventLoopWait&) = delete;
};

// One wait of ms milliseconds that dispatches the thread's events meanwhile.
void EventLoopWait(unsigned ms);
// One wait of ms milliseconds that dispatches every event but user input meanwhile.
void NoInputEventLoopWait(unsigned ms);
