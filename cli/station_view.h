#pragma once

#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cli/json_events.h"
#include "engine/clock.h"
#include "station/station.h"

// The station's live board on a terminal: a header with the file, the first 12 hexadecimal
// digits of its SHA-256 and the counters, the operator's problems, then one line per slot or
// device with its identity, state (waiting, synchronising, per cent, result) and time.
class StationBoard final : public StationView {
  public:
    StationBoard(std::FILE* out, std::string file, std::string sha256,
                 const std::vector<std::string>& slotNames, Clock& clock);

    void Arrived(const std::string& device) override;
    void Left(const std::string& device) override;
    std::unique_ptr<UpdateObserver> Attempt(const std::string& device) override;
    void Result(const std::string& device, int exitCode, const std::string& message) override;
    void Tally(const StationTally& tally) override;
    void Problem(const std::string& text) override;
    void ProblemCleared(const std::string& text) override;
    void Plant(const PlantStatus& status) override;

    // Sets the state of a device's row (made when new) and redraws when due (or `now`).
    void SetState(const std::string& device, const std::string& state, bool now);
    // Draws the whole board once more.
    void Draw();

  private:
    struct Row {
        std::string device;  // escaped
        std::string state;
        std::uint64_t startMs = 0;
        std::uint64_t elapsedMs = 0;
        bool running = false;
    };
    Row& RowLocked(const std::string& device);
    void DrawLocked();

    std::mutex mutex_;
    std::FILE* out_;
    const std::string file_;
    const std::string sha256_;
    Clock& clock_;
    std::vector<Row> rows_;
    std::vector<std::string> problems_;
    std::string plant_;  // the plant database's line; empty without one
    StationTally tally_;
    std::size_t drawnLines_ = 0;
    std::uint64_t lastDrawMs_ = 0;
};

// The station's events as JSON Lines on standard output: arrived, start, synchronised,
// progress, retry, result and left, each with the device, and plant when the plant database
// comes or goes. Problems go to standard error.
class StationJson final : public StationView {
  public:
    StationJson(std::string link, std::string file, std::string sealedPath, Clock& clock);

    void Arrived(const std::string& device) override;
    void Left(const std::string& device) override;
    std::unique_ptr<UpdateObserver> Attempt(const std::string& device) override;
    void Result(const std::string&, int, const std::string&) override {}
    void Tally(const StationTally&) override {}
    void Problem(const std::string& text) override;
    void ProblemCleared(const std::string& text) override;
    void Plant(const PlantStatus& status) override;
    // Ends every attempt under way with its result line; nothing is written after.
    void Interrupted(int signal) override { lines_.Interrupt(signal); }

  private:
    void Event(const char* name, const std::string& device);

    JsonLines lines_{stdout};
    const std::string link_;
    const std::string file_;
    const std::string sealedPath_;
    Clock& clock_;
    std::mutex mutex_;
    std::set<std::string> told_;  // problems already written
};
