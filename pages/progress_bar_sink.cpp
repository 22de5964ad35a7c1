#include "pages/progress_bar_sink.h"

#include <QProgressBar>

void ProgressBarSink::SetRange(int low, int high) {
    bar_.setRange(low, high);
}

void ProgressBarSink::SetPos(int position) {
    bar_.setValue(position);
}
