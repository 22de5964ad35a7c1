#pragma once

#include "engine/progress_sink.h"

class QProgressBar;

// Lets an update operation move a page's progress bar.
class ProgressBarSink final : public ProgressSink {
  public:
    explicit ProgressBarSink(QProgressBar& bar) : bar_(bar) {}
    void SetRange(int low, int high) override;
    void SetPos(int position) override;

  private:
    QProgressBar& bar_;
};
