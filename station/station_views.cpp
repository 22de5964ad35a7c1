#include "station/station_views.h"

#include <cstdint>

namespace {

// Progress of one transfer reported to several sinks; the first decides whether to stop.
class ProgressSinks final : public ProgressSink {
  public:
    explicit ProgressSinks(std::vector<ProgressSink*> sinks) : sinks_(std::move(sinks)) {}
    void SetRange(int low, int high) override {
        for (ProgressSink* sink : sinks_) {
            sink->SetRange(low, high);
        }
    }
    void SetPos(int position) override {
        for (ProgressSink* sink : sinks_) {
            sink->SetPos(position);
        }
    }
    void FrameSent(int frameNumber) override {
        for (ProgressSink* sink : sinks_) {
            sink->FrameSent(frameNumber);
        }
    }
    void FrameRetried(int frameNumber, std::uint8_t reply) override {
        for (ProgressSink* sink : sinks_) {
            sink->FrameRetried(frameNumber, reply);
        }
    }
    bool StopRequested() override { return sinks_.front()->StopRequested(); }

  private:
    std::vector<ProgressSink*> sinks_;
};

// One attempt shown by several views: what the update tells goes to every observer, what it
// asks is answered by the first (the operator's) alone.
class AttemptObservers final : public UpdateObserver {
  public:
    explicit AttemptObservers(std::vector<std::unique_ptr<UpdateObserver>> observers)
        : observers_(std::move(observers)), answering_(*observers_.front()) {}

    void ShowState(StateKind kind, std::string_view caption, std::string_view text) override {
        Each([&](UpdateObserver& o) { o.ShowState(kind, caption, text); });
    }
    void HideState() override {
        Each([](UpdateObserver& o) { o.HideState(); });
    }
    bool Cancelled() override { return answering_.Cancelled(); }
    bool StopRequested() override { return answering_.StopRequested(); }
    bool DispatchesEvents() const override { return answering_.DispatchesEvents(); }
    void Busy(bool on) override {
        Each([on](UpdateObserver& o) { o.Busy(on); });
    }
    void WaitingForBootloader(std::uint64_t elapsedMs) override {
        Each([elapsedMs](UpdateObserver& o) { o.WaitingForBootloader(elapsedMs); });
    }
    void Synchronised(const BootloaderInfo& info) override {
        Each([&info](UpdateObserver& o) { o.Synchronised(info); });
    }
    ProgressSink* TransferStarting(std::size_t imageBytes) override {
        std::vector<ProgressSink*> sinks;
        ProgressSink* answeringSink = answering_.TransferStarting(imageBytes);
        if (answeringSink != nullptr) {
            sinks.push_back(answeringSink);
        }
        for (std::size_t i = 1; i < observers_.size(); ++i) {
            if (ProgressSink* sink = observers_[i]->TransferStarting(imageBytes)) {
                sinks.push_back(sink);
            }
        }
        if (sinks.size() <= 1) {
            return sinks.empty() ? nullptr : sinks.front();
        }
        if (answeringSink == nullptr) {  // nobody may stop the transfer but the operator's view
            sinks.insert(sinks.begin(), &neverStops_);
        }
        sinks_ = std::make_unique<ProgressSinks>(std::move(sinks));
        return sinks_.get();
    }
    void Acknowledge(std::string_view message) override { answering_.Acknowledge(message); }
    bool Confirm(std::string_view question) override { return answering_.Confirm(question); }
    bool CanGuideReplug() const override { return answering_.CanGuideReplug(); }
    int GuideReplug(const std::function<int(ReplugPrompt&)>& restart) override {
        return answering_.GuideReplug(restart);
    }
    void DeviceFound(std::string_view name, std::string_view hardware,
                     std::string_view software) override {
        Each([&](UpdateObserver& o) { o.DeviceFound(name, hardware, software); });
    }
    void Finished(std::string_view verdict, int exitCode) override {
        Each([&](UpdateObserver& o) { o.Finished(verdict, exitCode); });
    }

  private:
    // A sink that shows nothing and never asks to stop.
    class SilentSink final : public ProgressSink {
      public:
        void SetRange(int, int) override {}
        void SetPos(int) override {}
    };

    template <typename Call>
    void Each(const Call& call) {
        for (const std::unique_ptr<UpdateObserver>& observer : observers_) {
            call(*observer);
        }
    }

    std::vector<std::unique_ptr<UpdateObserver>> observers_;
    UpdateObserver& answering_;
    SilentSink neverStops_;
    std::unique_ptr<ProgressSinks> sinks_;
};

}  // namespace

void StationViews::Arrived(const std::string& device) {
    Each(&StationView::Arrived, device);
}

void StationViews::Left(const std::string& device) {
    Each(&StationView::Left, device);
}

std::unique_ptr<UpdateObserver> StationViews::Attempt(const std::string& device) {
    std::vector<std::unique_ptr<UpdateObserver>> observers;
    for (StationView* view : views_) {
        observers.push_back(view->Attempt(device));
    }
    return std::make_unique<AttemptObservers>(std::move(observers));
}

void StationViews::Result(const std::string& device, int exitCode, const std::string& message,
                          bool needsReplug) {
    Each(&StationView::Result, device, exitCode, message, needsReplug);
}

void StationViews::Tally(const StationTally& tally) {
    Each(&StationView::Tally, tally);
}

void StationViews::Problem(const std::string& text) {
    Each(&StationView::Problem, text);
}

void StationViews::ProblemCleared(const std::string& text) {
    Each(&StationView::ProblemCleared, text);
}

void StationViews::StoppedTaking(bool recordsFailed) {
    Each(&StationView::StoppedTaking, recordsFailed);
}

void StationViews::Interrupted(int signal) {
    Each(&StationView::Interrupted, signal);
}

void StationViews::Plant(const PlantStatus& status) {
    Each(&StationView::Plant, status);
}

void StationViews::Lot(const LotProgress& lot) {
    Each(&StationView::Lot, lot);
}

void StationViews::Stopped(const JobStop& stop) {
    Each(&StationView::Stopped, stop);
}

void StationViews::Hook(const std::string& device, const std::string& outcome, bool succeeded) {
    Each(&StationView::Hook, device, outcome, succeeded);
}

void StationViews::Ended(int exitStatus) {
    Each(&StationView::Ended, exitStatus);
}
