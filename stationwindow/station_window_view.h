#pragma once

#include <functional>
#include <memory>
#include <string>

#include "station/station.h"

class StationWindow;

// The station's view of its window: each call, from whichever thread of the station, is
// queued to the window's thread. The window must outlive the station.
class StationWindowView final : public StationView {
  public:
    explicit StationWindowView(StationWindow& window) : window_(window) {}

    void Arrived(const std::string& device) override;
    void Left(const std::string& device) override;
    std::unique_ptr<UpdateObserver> Attempt(const std::string& device) override;
    void Result(const std::string& device, int exitCode, const std::string& message,
                bool needsReplug) override;
    void Tally(const StationTally& tally) override;
    void Problem(const std::string& text) override;
    void Plant(const PlantStatus& status) override;
    void Lot(const LotProgress& lot) override;
    void Stopped(const JobStop& stop) override;
    void Hook(const std::string& device, const std::string& outcome, bool succeeded) override;
    void Ended(int exitStatus) override;

    // Runs `call` with the window on its thread.
    void Post(std::function<void(StationWindow&)> call);

  private:
    StationWindow& window_;
};
