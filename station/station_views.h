#pragma once

#include <memory>
#include <string>
#include <vector>

#include "station/station.h"

// Several views of one station: every call goes to each of them in turn. The first view is the
// one the operator uses (board, JSON Lines or window); it alone answers an attempt's questions
// (cancel, stop, confirm, replug guidance), the others only watch.
class StationViews final : public StationView {
  public:
    explicit StationViews(std::vector<StationView*> views) : views_(std::move(views)) {}

    void Arrived(const std::string& device) override;
    void Left(const std::string& device) override;
    std::unique_ptr<UpdateObserver> Attempt(const std::string& device) override;
    void Result(const std::string& device, int exitCode, const std::string& message,
                bool needsReplug) override;
    void Tally(const StationTally& tally) override;
    void Problem(const std::string& text) override;
    void StoppedTaking(bool recordsFailed) override;
    void ProblemCleared(const std::string& text) override;
    void Interrupted(int signal) override;
    void Plant(const PlantStatus& status) override;
    void Lot(const LotProgress& lot) override;
    void Stopped(const JobStop& stop) override;
    void Hook(const std::string& device, const std::string& outcome, bool succeeded) override;
    void Ended(int exitStatus) override;

  private:
    // Calls `method` of every view with `arguments`.
    template <typename... Parameters, typename... Arguments>
    void Each(void (StationView::*method)(Parameters...), const Arguments&... arguments) {
        for (StationView* view : views_) {
            (view->*method)(arguments...);
        }
    }

    std::vector<StationView*> views_;
};
