#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "records/attempt_record.h"
#include "records/attempt_records.h"
#include "update/update_observer.h"

// The records a single command (UDP, COM, FTDI, USBX) writes when given --records PATH or a
// plant database URL (or the settings file names one): each device's attempt is a row, written
// before its update starts and completed when it ends.
class CommandRecords {
  public:
    // Opens the store at `path` for the command `link` updating with `file` (its name, size and
    // SHA-256 are taken now). Nothing, after a message on standard error, when it cannot be
    // opened; `status` is then the exit status.
    static std::unique_ptr<CommandRecords> Open(const std::string& path, const std::string& link,
                                                const std::string& file, int& status);

    // Runs one device's update with its attempt recorded: when its row cannot be written the
    // update does not run and the device ends with kExitRecordsUnwritable. The update may add
    // to the record what it learns of the device.
    int Run(const std::string& device, UpdateObserver& shown,
            const std::function<int(UpdateObserver& observer, AttemptRecord& record)>& update);

    // Gives the plant database a bounded time to take the attempts, and says on standard error
    // how many it has not.
    ~CommandRecords();
    CommandRecords(const CommandRecords&) = delete;
    CommandRecords& operator=(const CommandRecords&) = delete;

  private:
    CommandRecords(std::unique_ptr<AttemptRecords> store, AttemptRecord common);
    std::unique_ptr<AttemptRecords> store_;
    const AttemptRecord common_;  // what every attempt of the command shares
};

// Runs `update` through `records` when there are any, otherwise as it is.
int WithRecords(CommandRecords* records, const std::string& device, UpdateObserver& shown,
                const std::function<int(UpdateObserver& observer, AttemptRecord* record)>& update);

// The file's bytes' SHA-256 in lower-case hexadecimal and their count; empty and 0 when the
// file cannot be read.
std::string FileSha256(const std::string& path, std::int64_t& size);

// Opens `records` when `path` (the --records value) is not empty or the settings file names a
// plant database. Nothing when that worked or nothing is to be recorded; otherwise the exit
// status, after a message on standard error.
std::optional<int> OpenRecords(const std::string& path, const std::string& link,
                               const std::string& file, std::unique_ptr<CommandRecords>& records);
