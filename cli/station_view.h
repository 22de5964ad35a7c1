#pragma once

#include <chrono>
#include <cstdio>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "cli/json_events.h"
#include "cli/terminal_painter.h"
#include "engine/clock.h"
#include "station/station.h"
#include "update/update_file_check.h"

// The station's live board on a terminal: a header with the file, the first 12 hexadecimal
// digits of its SHA-256 and the counters, the operator's problems, then one line per slot or
// device with its identity, state (waiting, synchronising, per cent, result) and time. A device
// that left a bus keeps its line for kDepartedShownMs; the board never takes more lines than
// the terminal has, and every line but the header (which wraps) is cut at its width.
class StationBoard final : public StationView {
  public:
    // A device that left is shown this long after it left; a slot then shows "waiting" again.
    static constexpr std::uint64_t kDepartedShownMs = 5000;
    // At the end, the last state is waited for this long to reach the terminal.
    static constexpr std::chrono::milliseconds kLastFrameLimit{1000};

    // The board fits the terminal open as `terminal` (-1: an ordinary 80 x 24 one).
    StationBoard(int terminal, std::string file, std::string sha256,
                 const std::vector<std::string>& slotNames, Clock& clock);

    void Arrived(const std::string& device) override;
    void Left(const std::string& device) override;
    std::unique_ptr<UpdateObserver> Attempt(const std::string& device) override;
    void Result(const std::string& device, int exitCode, const std::string& message,
                bool needsReplug) override;
    void Tally(const StationTally& tally) override;
    void Problem(const std::string& text) override;
    void ProblemCleared(const std::string& text) override;
    void Plant(const PlantStatus& status) override;
    void Lot(const LotProgress& lot) override;
    void Stopped(const JobStop& stop) override;
    void Hook(const std::string& device, const std::string& outcome, bool succeeded) override;

    // Draws the board on its terminal from now on, on a thread of its own: whoever tells the
    // board something never waits for the terminal.
    void Show();
    // Sets the state of a device's row (made when new) and has it drawn.
    void SetState(const std::string& device, const std::string& state);
    // Draws the latest state a last time, waiting at most kLastFrameLimit for the terminal, and
    // then no more: what the program prints after stays below the board.
    void Draw();
    // The text that draws the board over its previous frame now: what the terminal is sent.
    std::string Frame();

  private:
    struct Row {
        std::string device;  // escaped
        std::string state;
        std::uint64_t startMs = 0;
        std::uint64_t elapsedMs = 0;
        std::uint64_t endedMs = 0;  // when its last attempt ended; 0 before
        std::uint64_t leftMs = 0;   // when it left the bus or slot; 0 while there
        bool running = false;
        bool slot = false;  // one of --slots: its line stays
    };
    Row& RowLocked(const std::string& device);
    void Changed();
    // Drops the lines of devices gone long enough; a slot's line says "waiting" again.
    void ForgetDepartedLocked(std::uint64_t now);
    // The rows that fit in `room` lines, the oldest results giving way first; `hidden` gets the
    // number left out.
    std::vector<const Row*> RowsShownLocked(std::size_t room, std::size_t& hidden) const;

    std::mutex mutex_;
    const int terminal_;
    const std::string file_;
    const std::string sha256_;
    Clock& clock_;
    std::vector<Row> rows_;
    std::vector<std::string> problems_;
    std::string plant_;  // the plant database's line; empty without one
    std::string lot_;    // the job's line; empty without a job
    StationTally tally_;
    std::size_t drawnLines_ = 0;
    std::unique_ptr<TerminalPainter> painter_;  // last: it stops drawing before the rest goes
};

// The station's events as JSON Lines on standard output: arrived, start, synchronised,
// progress, retry, result and left, each with the device, and plant when the plant database
// comes or goes. Problems go to standard error.
class StationJson final : public StationView {
  public:
    // `fileCheck`: what the session's check of its file found, told at every attempt's start.
    StationJson(std::string link, std::string file, UpdateFileCheck fileCheck, Clock& clock);

    void Arrived(const std::string& device) override;
    void Left(const std::string& device) override;
    std::unique_ptr<UpdateObserver> Attempt(const std::string& device) override;
    void Result(const std::string&, int, const std::string&, bool) override {}
    void Tally(const StationTally&) override {}
    void Problem(const std::string& text) override;
    void ProblemCleared(const std::string& text) override;
    void Plant(const PlantStatus& status) override;
    void Lot(const LotProgress& lot) override;
    void Stopped(const JobStop& stop) override;
    void Hook(const std::string& device, const std::string& outcome, bool succeeded) override;
    // Ends every attempt under way with its result line; nothing is written after.
    void Interrupted(int signal) override { lines_.Interrupt(signal); }

  private:
    void Event(const char* name, const std::string& device);

    JsonLines lines_{stdout};
    const std::string link_;
    const std::string file_;
    const UpdateFileCheck fileCheck_;
    Clock& clock_;
    std::mutex mutex_;
    std::set<std::string> told_;  // problems already written
};
