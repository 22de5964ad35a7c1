#pragma once

// Where an update operation reports its progress: range 0..100, then per cent accepted.
class ProgressSink {
  public:
    virtual ~ProgressSink() = default;
    virtual void SetRange(int low, int high) = 0;
    virtual void SetPos(int position) = 0;
};
