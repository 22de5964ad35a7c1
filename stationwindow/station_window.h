#pragma once

#include <QString>
#include <QWidget>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>

#include "engine/clock.h"
#include "station/station.h"
#include "station/station_window_hook.h"

class QLabel;
class QPushButton;
class StationTile;
class TileGrid;
class UiServices;

// The system font scaled by `factor`: the window is read from an arm's length or more.
QFont ScaledSystemFont(double factor);

// The station for an operator: the session in the header, a tile per slot or device in a grid
// that reflows with the width, the counters, and the controls. It shows what the station tells
// its view (StationWindowView brings it onto this thread) and holds no step of an update. Its
// stops do what a stop signal does in the station's loop.
class StationWindow final : public QWidget {
    Q_OBJECT
  public:
    StationWindow(const StationWindowSession& session, UiServices& ui, Clock& clock,
                  std::function<void()> stop, QWidget* parent = nullptr);
    ~StationWindow() override;

    // What the station told, on the window's thread.
    void DeviceArrived(const std::string& device);
    void DeviceLeft(const std::string& device);
    void AttemptStarted(const std::string& device);
    void Synchronising(const std::string& device);
    void Progress(const std::string& device, int percent);
    void AttemptEnded(const std::string& device, int exitCode, const std::string& message,
                      bool needsReplug = false);
    void TallyChanged(const StationTally& tally);
    void ProblemReported(const std::string& text);
    // The job's lot and progress, and the last hook's outcome, in the header's Job field.
    void LotChanged(const LotProgress& lot);
    void HookEnded(const std::string& device, const std::string& outcome);

    // The plant database's state as the header shows it: "none" while there is no plant
    // database, else what its forwarder reports ("connected", "disconnected", ...).
    void SetPlantDatabaseState(const QString& state);
    // The station's loop has ended with `exitStatus`: the final line says how it went, and a
    // close is no longer a stop but the operator's leave to go (Dismissed).
    void StationEnded(int exitStatus);
    bool HasEnded() const { return ended_; }

    // The tile of a slot or device, or none.
    StationTile* Tile(const std::string& device) const;
    // Attempts whose tile shows them running.
    int Running() const { return running_; }
    // The stops given so far: the first takes no new devices, the second ends the updates.
    int Stops() const { return stops_; }

  signals:
    void TileAdded(const QString& device);
    // Closed by the operator after the station ended.
    void Dismissed();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    StationTile& TileFor(const std::string& device);
    void Stop();
    void ShowCounters();
    void OpenRecords();

    const StationWindowSession session_;
    UiServices& ui_;
    Clock& clock_;
    const std::function<void()> stop_;
    const QFont tileFont_;
    TileGrid* grid_;
    QLabel* plant_;
    QLabel* job_;
    QString lotText_;
    QLabel* problems_;
    QLabel* finalLine_;
    QLabel* passed_;
    QLabel* failed_;
    QLabel* yield_;
    QLabel* perHour_;
    QPushButton* stopButton_;
    QPushButton* records_;
    std::map<std::string, StationTile*> tiles_;
    StationTally tally_;
    std::deque<std::uint64_t> endedAtMs_;  // the attempts' ends within the rate's span
    int running_ = 0;
    int stops_ = 0;
    bool ended_ = false;
};
