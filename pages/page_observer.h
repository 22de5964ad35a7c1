#pragma once

#include <QLabel>
#include <optional>

#include "pages/progress_bar_sink.h"
#include "pages/state_msg.h"
#include "pages/ui_services.h"
#include "update/update_steps.h"

// What a link page shows and answers while an update runs: the state message with its Cancel
// (owned by `stateOwner`, none for a dialog of its own), the wait cursor, the found device in
// the page's labels, the progress bar, and the application's message boxes.
class PageObserver final : public UpdateObserver {
  public:
    struct Parts {
        UiServices& ui;
        QWidget& page;
        QProgressBar& progress;
        QLabel& bootloaderVersion;
        QLabel& deviceFound;
    };
    PageObserver(const Parts& parts, QWidget* stateOwner);

    void ShowState(StateKind kind, std::string_view caption, std::string_view text) override;
    void HideState() override;
    bool Cancelled() override { return state_ && state_->Cancelled(); }
    bool DispatchesEvents() const override { return true; }
    void Busy(bool on) override;
    void Synchronised(const BootloaderInfo& info) override;
    ProgressSink* TransferStarting(std::size_t) override { return &progress_; }
    void Acknowledge(std::string_view message) override;
    bool Confirm(std::string_view question) override;
    bool CanGuideReplug() const override { return true; }
    int GuideReplug(const std::function<int(ReplugPrompt&)>& restart) override;

    // The end of the run: the wait cursor goes, then the outcome is shown unless it is quiet.
    void Report(const UpdateOutcome& outcome);

  private:
    Parts parts_;
    QWidget* stateOwner_;
    std::optional<CStateMsg> state_;  // made when first shown
    ProgressBarSink progress_;
    std::optional<WaitCursor> cursor_;
};
