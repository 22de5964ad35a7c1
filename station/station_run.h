#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "engine/clock.h"
#include "engine/device_types.h"
#include "log/log_sink.h"
#include "records/attempt_records.h"
#include "station/job_session.h"
#include "station/station.h"
#include "station/station_lock.h"
#include "station/stop_signals.h"
#include "station/udev_watch.h"
#include "update/link_table.h"
#include "update/sealed_file.h"
#include "update/update_file_check.h"

struct Job;

// How a station session is set up, as its command line (or its job) asked for it.
struct StationOptions {
    std::string path;  // the update file
    std::string link;  // upper case
    std::vector<std::string> slotAddresses;
    // What each slot resolves to (its address and port, its port's device), for the slot's
    // lock; empty for a slot that cannot be resolved yet.
    std::vector<std::string> slotKeys;
    std::vector<UsbId> match;  // COM: USB serial adapters taken from udev
    const DeviceType* deviceType = nullptr;
    std::string station;
    std::string operatorName;
    std::string records;
    // The production job the station runs, when it runs one: its file, link, slots and device
    // type are the fields above; the session refuses an update file that is not the job's.
    std::shared_ptr<const Job> job;
};

// One session of the station: the file loaded and sealed, the locks on what it serves, the
// records, the source its devices arrive from, and the loop that serves them. Whatever shows
// the session is a StationView the caller chooses.
class StationRun {
  public:
    StationRun(StationOptions options, LogSink& log, Clock& clock);
    ~StationRun();
    StationRun(const StationRun&) = delete;
    StationRun& operator=(const StationRun&) = delete;

    // Checks the bus folder, loads and seals the file, takes the locks, opens the records and
    // the hot-plug watch. Nothing when the session can start; otherwise the exit code to end
    // with, the reason told on the standard error.
    std::optional<int> Open();

    const StationOptions& Options() const { return options_; }
    const StationSession& Session() const { return session_; }
    // What the check of the sealed file found: its size, frames and lengths.
    const UpdateFileCheck& FileCheck() const { return fileCheck_; }
    AttemptRecords& Records() { return *records_; }

    // Tells `view` of the plant database the records are forwarded to, when there is one.
    void ShowPlantIn(StationView& view);

    // Serves the devices that arrive until stopped (`stops`: the first takes no new devices,
    // the second ends the running updates) and returns the station's exit status; the view is
    // told when it has ended. `beforeAbandon` runs when the program must end at once after a
    // second stop, with updates left behind.
    int Serve(StationView& view, StopSignals& stops, const std::function<void()>& beforeAbandon);

    // Ends the records: the plant database gets its time to take what waits, and a stop
    // meanwhile does not wait for it. False on a stop, with `unsent` saying what waits then.
    bool FinishRecords(StopSignals& stops, std::string& unsent);

  private:
    class Loop;
    std::optional<int> LoadFile();
    bool TakeLocks(std::string& error);
    UpdateOutcome Update(const StationDevice& device, RecordingObserver& observer) const;

    StationOptions options_;
    const LinkRow& row_;
    LogSink& log_;
    Clock& clock_;
    std::string folder_;     // the simulated bus folder, when the link's devices arrive there
    bool fromUdev_ = false;  // devices (or USB serial adapters) arrive through udev
    SealedFile sealed_;
    std::string sealedPath_;
    UpdateFileCheck fileCheck_;
    StationSession session_;
    std::vector<StationLock> locks_;
    std::unique_ptr<AttemptRecords> records_;
    std::unique_ptr<UdevWatch> udevWatch_;
    std::unique_ptr<JobSession> job_;  // with a job; after the records, which it reads
};
