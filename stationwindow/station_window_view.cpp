#include "stationwindow/station_window_view.h"

#include <QMetaObject>

#include "stationwindow/station_window.h"

namespace {

// What one attempt tells its tile: that it synchronises, then its per cent, each only when it
// changes so the window's thread gets no flood of equal updates.
class TileObserver final : public UpdateObserver, public ProgressSink {
  public:
    TileObserver(StationWindowView& view, std::string device)
        : view_(view), device_(std::move(device)) {}

    void WaitingForBootloader(std::uint64_t) override {
        if (!synchronising_) {
            synchronising_ = true;
            view_.Post([d = device_](StationWindow& w) { w.Synchronising(d); });
        }
    }
    ProgressSink* TransferStarting(std::size_t) override { return this; }
    void SetRange(int low, int high) override { scale_.SetRange(low, high); }
    void SetPos(int position) override {
        const int percent = scale_.Percent(position);
        if (percent != percent_) {
            percent_ = percent;
            view_.Post([d = device_, percent](StationWindow& w) { w.Progress(d, percent); });
        }
    }

  private:
    StationWindowView& view_;
    const std::string device_;
    ProgressScale scale_;
    bool synchronising_ = false;
    int percent_ = -1;
};

}  // namespace

void StationWindowView::Post(std::function<void(StationWindow&)> call) {
    StationWindow* window = &window_;
    QMetaObject::invokeMethod(
        window, [window, call = std::move(call)] { call(*window); }, Qt::QueuedConnection);
}

void StationWindowView::Arrived(const std::string& device) {
    Post([device](StationWindow& w) { w.DeviceArrived(device); });
}

void StationWindowView::Left(const std::string& device) {
    Post([device](StationWindow& w) { w.DeviceLeft(device); });
}

std::unique_ptr<UpdateObserver> StationWindowView::Attempt(const std::string& device) {
    Post([device](StationWindow& w) { w.AttemptStarted(device); });
    return std::make_unique<TileObserver>(*this, device);
}

void StationWindowView::Result(const std::string& device, int exitCode, const std::string& message,
                               bool needsReplug) {
    Post([device, exitCode, message, needsReplug](StationWindow& w) {
        w.AttemptEnded(device, exitCode, message, needsReplug);
    });
}

void StationWindowView::Tally(const StationTally& tally) {
    Post([tally](StationWindow& w) { w.TallyChanged(tally); });
}

void StationWindowView::Problem(const std::string& text) {
    Post([text](StationWindow& w) { w.ProblemReported(text); });
}

void StationWindowView::Plant(const PlantStatus& status) {
    const QString state = QString::fromStdString(PlantStatusText(status));
    Post([state](StationWindow& window) { window.SetPlantDatabaseState(state); });
}

void StationWindowView::Ended(int exitStatus) {
    Post([exitStatus](StationWindow& window) { window.StationEnded(exitStatus); });
}

void StationWindowView::Lot(const LotProgress& lot) {
    Post([lot](StationWindow& w) { w.LotChanged(lot); });
}

void StationWindowView::Stopped(const JobStop& stop) {
    Post([stop](StationWindow& w) { w.ProblemReported("stopped by the job: " + stop.reason); });
}

void StationWindowView::Hook(const std::string& device, const std::string& outcome,
                             bool /*succeeded*/) {
    Post([device, outcome](StationWindow& w) { w.HookEnded(device, outcome); });
}
