#pragma once

#include <cstdint>

// Where an update operation reports its progress (range 0..100, then per cent accepted), and
// whom it asks whether to stop.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void SetRange(int low, int high) = 0;
    virtual void SetPos(int position) = 0;
    // Each write of a frame (numbered from 0 as the frames are accepted), a resend included.
    virtual void FrameSent(int /*frameNumber*/) {}
    // The reply that has a frame sent again; BL_NOTHING when none came in time.
    virtual void FrameRetried(int /*frameNumber*/, std::uint8_t /*reply*/) {}
    // Asked before every frame is written and while its reply is awaited: true ends the transfer
    // there, so no frame goes out once the stop is seen and none is cut short.
    virtual bool StopRequested() { return false; }
};
